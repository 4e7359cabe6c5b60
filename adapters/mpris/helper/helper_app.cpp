#include "helper_app.h"

#include "log.h"

namespace mpris_helper {

HelperApp::HelperApp(Options options)
    : options_(std::move(options)),
      directory_(
          options_.player, [this](const PlayerHandle* p) { Follow(p); },
          [this] {
              PublishChanges();
              if (ready_) ready_();
          })
{
}

bool HelperApp::Start(GDBusConnection* bus, std::function<void()> ready, std::string& error)
{
    ready_ = std::move(ready);
    BridgeListener::Callbacks callbacks;
    callbacks.connected = [this] { PublishEverything(); };
    callbacks.command = [this](mpris_bridge::Command command) { RunCommand(command); };
    listener_ = BridgeListener::Start(options_.port, options_.token, std::move(callbacks), error);
    if (!listener_) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(options_.port) + ": " + error;
        return false;
    }
    if (!directory_.Start(bus, error)) {
        error = "cannot watch for players: " + error;
        return false;
    }
    return true;
}

void HelperApp::Follow(const PlayerHandle* player)
{
    // The old one goes first: its calls and reads end with it.
    followed_.reset();
    if (player) {
        const auto publish = [this] { PublishChanges(); };
        followed_ = std::make_unique<FollowedPlayer>(*player, FollowedPlayer::Callbacks{publish, publish});
    }
    PublishChanges();
}

void HelperApp::RunCommand(mpris_bridge::Command command)
{
    if (!followed_) {
        Log(std::string(mpris_bridge::CommandName(command)) + ": no player");
        return;
    }
    followed_->Run(command);
}

void HelperApp::PublishEverything()
{
    sent_present_.reset();
    sent_title_.reset();
    PublishChanges();
}

void HelperApp::PublishChanges()
{
    if (!listener_ || !listener_->HasBridge()) return;
    const bool present = followed_ != nullptr;
    if (!present && !directory_.Settled()) return;
    if (present) {
        // Title and status first, so the window comes up showing them.
        if (sent_title_ != followed_->WindowTitle()) {
            sent_title_ = followed_->WindowTitle();
            listener_->Send(mpris_bridge::TrackTitle{*sent_title_});
        }
        listener_->Send(mpris_bridge::StatusLine{followed_->StatusNow()});
    }
    if (sent_present_ != present) {
        sent_present_ = present;
        listener_->Send(mpris_bridge::Presence{present});
    }
    if (!present) sent_title_.reset();
}

}  // namespace mpris_helper
