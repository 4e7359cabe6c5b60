"""Bounded waits, failures and the runner the whole-program tests share."""
import time


class Failure(Exception):
    pass


def expect(cond, what):
    if not cond:
        raise Failure(what)


def eventually(fn, seconds=10, interval=0.2):
    """The first true value of fn() within `seconds`, else its last value."""
    deadline = time.time() + seconds
    while True:
        value = fn()
        if value or time.time() > deadline:
            return value
        time.sleep(interval)


def run_tests(namespace, build, names):
    """Runs the test_ functions of a module (those named, or all), each on
    its own, and reports every one; returns the exit status."""
    tests = {k: v for k, v in namespace.items() if k.startswith('test_')}
    unknown = [n for n in names if n not in tests]
    if unknown:
        print(f'no such test: {" ".join(unknown)}', flush=True)
        return 1
    failed = 0
    for name, fn in tests.items():
        if names and name not in names:
            continue
        start = time.time()
        try:
            fn(build)
            print(f'PASS {name} ({time.time() - start:.1f} s)', flush=True)
        except Exception as e:  # noqa: BLE001 - report every kind of failure and go on
            failed += 1
            print(f'FAIL {name}: {e}', flush=True)
    return 1 if failed else 0
