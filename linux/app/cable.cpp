#include "cable.h"

#include "ticables_link.h"
#include "timed_link.h"
#include "tty_lines.h"

namespace nightjar::native {
namespace {

class BlackCable final : public OpenCable {
public:
    explicit BlackCable(std::unique_ptr<tty::TtyLines> lines) : lines_(std::move(lines)), link_(*lines_) {}
    CalculatorLink& link() override { return link_; }
    std::string Name() const override
    {
        return lines_->path() + (lines_->HasModemWait() ? "" : " (no modem-line wait: polling)");
    }

private:
    std::unique_ptr<tty::TtyLines> lines_;
    TimedLink link_;
};

class TicablesOpenCable final : public OpenCable {
public:
    explicit TicablesOpenCable(TicablesCable cable) : link_(std::move(cable)) {}
    CalculatorLink& link() override { return link_; }
    std::string Name() const override { return link_.cable().name(); }

private:
    TicablesLink link_;
};

}  // namespace

std::unique_ptr<OpenCable> OpenCableOf(CableChoice choice, const std::string& device)
{
    switch (choice.kind) {
    case CableKind::Black: return std::make_unique<BlackCable>(tty::TtyLines::Open(device));
    case CableKind::BlackTicables:
        return std::make_unique<TicablesOpenCable>(TicablesCable::OpenSerial(TiCableModel::Black, device));
    case CableKind::Gray:
        return std::make_unique<TicablesOpenCable>(TicablesCable::OpenSerial(TiCableModel::Gray, device));
    case CableKind::SilverLink:
        return std::make_unique<TicablesOpenCable>(TicablesCable::OpenSilverLink(choice.number));
    }
    throw tty::OpenError(tty::OpenFailure::Other, "no such cable kind");
}

}  // namespace nightjar::native
