"""Where the windows of a session go: Wine puts every new window without a
place of its own at the top left, one on top of the other."""

# Nightjar's windows (the chooser, then the main window) keep the top left,
# where they come up anyway: placed or not, they cover nothing.
MARGIN = 20
NIGHTJAR_COLUMN = 340  # wider than the chooser and the main window
CALCULATOR_AT = (MARGIN + NIGHTJAR_COLUMN + MARGIN, MARGIN)
NIGHTJAR_AT = (MARGIN, MARGIN)


def player_at(calculator_width):
    """The player to the right of the calculator."""
    return (CALCULATOR_AT[0] + calculator_width + MARGIN, MARGIN)


def tray_at(screen, tray_size):
    """Wine's stand-in tray in the bottom right corner."""
    return (screen[0] - tray_size[0] - MARGIN, screen[1] - tray_size[1] - MARGIN)


def parse_rect(text):
    """njprobe's 'x y width height', or None."""
    parts = text.split()
    if len(parts) != 4:
        return None
    try:
        return tuple(int(p) for p in parts)
    except ValueError:
        return None


def covered(rects):
    """The pairs of names whose rectangles (x, y, width, height) overlap."""
    names = sorted(rects)
    pairs = []
    for i, a in enumerate(names):
        ax, ay, aw, ah = rects[a]
        for b in names[i + 1:]:
            bx, by, bw, bh = rects[b]
            if ax < bx + bw and bx < ax + aw and ay < by + bh and by < ay + ah:
                pairs.append((a, b))
    return pairs


def bounds(rects, margin=10):
    """(x, y, width, height) around all the rectangles, `margin` wider on each side, not past 0."""
    left = max(0, min(r[0] for r in rects) - margin)
    top = max(0, min(r[1] for r in rects) - margin)
    right = max(r[0] + r[2] for r in rects) + margin
    bottom = max(r[1] + r[3] for r in rects) + margin
    return left, top, right - left, bottom - top
