#include "platform/linux/pulse_audio.h"

#include <alsa/asoundlib.h>
#include <pulse/pulseaudio.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

namespace kv::platform::linux_ {

// The thread on which the connections to the server run their callbacks. It sleeps in poll()
// while nothing happens, and it outlives every connection made on it (each holds it).
class PulseLoop {
 public:
  PulseLoop() {
    loop_ = pa_threaded_mainloop_new();
    if (loop_ && pa_threaded_mainloop_start(loop_) < 0) {
      pa_threaded_mainloop_free(loop_);
      loop_ = nullptr;
    }
  }
  ~PulseLoop() {
    if (!loop_) return;
    pa_threaded_mainloop_stop(loop_);  // joins the thread: no callback runs after this
    pa_threaded_mainloop_free(loop_);
  }
  PulseLoop(const PulseLoop&) = delete;
  PulseLoop& operator=(const PulseLoop&) = delete;
  pa_threaded_mainloop* get() const { return loop_; }

 private:
  pa_threaded_mainloop* loop_ = nullptr;
};

// One connection to the sound server, subscribed to the server's and the sources' changes.
// Every request waits for its answer, at most kRequestTimeout, and a connection that fails wakes
// every waiter, so nothing hangs on a dead or hung server. Listeners are called on the loop's
// thread with its lock held.
class PulseConnection {
 public:
  PulseConnection(std::shared_ptr<PulseLoop> loop, const std::string& appName)
      : owner_(std::move(loop)), loop_(owner_->get()) {
    if (!loop_) return;
    Lock lock(*this);
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), appName.c_str());
    if (!context_) return;
    pa_context_set_state_callback(context_, &PulseConnection::OnState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return;
    WaitUntil([&] {
      const auto state = pa_context_get_state(context_);
      return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    if (!Alive()) return;
    pa_context_set_subscribe_callback(context_, &PulseConnection::OnEvent, this);
    const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER |
                                                          PA_SUBSCRIPTION_MASK_SOURCE);
    if (!Wait(pa_context_subscribe(context_, mask, &PulseConnection::OnSuccess, this))) return;
    // What the events are compared with: the default source now, and the names of the sources
    // (a removal names a source by its index only).
    if (!Wait(pa_context_get_server_info(context_, &PulseConnection::OnServerInfo, this))) return;
    if (!Wait(pa_context_get_source_info_list(context_, &PulseConnection::OnSourceListed, this)))
      return;
    ready_ = true;
  }
  ~PulseConnection() {
    if (!context_) return;
    Lock lock(*this);
    // Our own goodbye is no loss of the service. Disconnecting cancels the requests still on
    // their way, so none of their callbacks runs after this.
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  // Connected, subscribed and listed at creation.
  bool Ready() const { return ready_; }

  struct Lock {
    explicit Lock(PulseConnection& c) : c(c) { pa_threaded_mainloop_lock(c.loop_); }
    ~Lock() { pa_threaded_mainloop_unlock(c.loop_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    PulseConnection& c;
  };

  // --- with the lock held ---
  bool Alive() const { return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY; }
  pa_context* Context() const { return context_; }
  void Signal() { pa_threaded_mainloop_signal(loop_, 0); }

  // Waits until `op` is done, the connection has failed or the time is up (the operation is
  // then cancelled, so its callback never runs on a caller that has gone).
  bool Wait(pa_operation* op) {
    if (!op) return false;
    const bool inTime = WaitUntil([&] {
      return pa_operation_get_state(op) != PA_OPERATION_RUNNING ||
             !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
    });
    if (!inTime) pa_operation_cancel(op);
    const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
    pa_operation_unref(op);
    return done;
  }

  std::uint64_t AddWatch(CaptureDeviceNotify notify) {
    listeners_[next_] = Listener{std::move(notify), PA_INVALID_INDEX, nullptr};
    return next_++;
  }
  std::uint64_t AddVolume(std::uint32_t source, VolumeNotify notify) {
    listeners_[next_] = Listener{nullptr, source, std::move(notify)};
    return next_++;
  }
  void Remove(std::uint64_t id) { listeners_.erase(id); }

 private:
  struct Listener {
    CaptureDeviceNotify device;
    std::uint32_t source = PA_INVALID_INDEX;
    VolumeNotify volume;
  };

  bool WaitUntil(const std::function<bool()>& done) {
    struct Timeout {
      PulseConnection* c;
      bool expired = false;
    } timeout{this};
    timeval when;
    pa_timeval_add(pa_gettimeofday(&when),
                   static_cast<pa_usec_t>(PulseAudio::kRequestTimeout.count()) * PA_USEC_PER_MSEC);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    pa_time_event* timer = api->time_new(
        api, &when,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
          auto* t = static_cast<Timeout*>(userdata);
          t->expired = true;
          t->c->Signal();
        },
        &timeout);
    while (!done() && !timeout.expired) pa_threaded_mainloop_wait(loop_);
    if (timer) api->time_free(timer);
    return !timeout.expired || done();
  }

  void NotifyWatches(const CaptureDeviceEvent& e) {
    for (auto& [id, l] : listeners_)
      if (l.device) l.device(e);
  }

  static void OnSuccess(pa_context*, int, void* self) {
    static_cast<PulseConnection*>(self)->Signal();
  }

  static void OnState(pa_context* context, void* userdata) {
    auto* self = static_cast<PulseConnection*>(userdata);
    self->Signal();
    if (!self->ready_ || self->lost_ || PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) return;
    // The server went away (restarted, killed): every watch hears it once and ends.
    self->lost_ = true;
    self->NotifyWatches({CaptureDeviceChange::ServiceLost, ""});
    self->listeners_.clear();
  }

  static void OnServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* self = static_cast<PulseConnection*>(userdata);
    if (info) self->defaultSource_ = info->default_source_name ? info->default_source_name : "";
    self->Signal();
  }

  static void OnSourceListed(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* self = static_cast<PulseConnection*>(userdata);
    if (eol == 0 && info) self->sources_[info->index] = info->name;
    if (eol != 0) self->Signal();
  }

  static void OnEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                      void* userdata) {
    auto* self = static_cast<PulseConnection*>(userdata);
    const unsigned facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const unsigned kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    pa_operation* op = nullptr;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER && kind == PA_SUBSCRIPTION_EVENT_CHANGE) {
      op = pa_context_get_server_info(context, &PulseConnection::OnServerChanged, self);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE) {
      if (kind == PA_SUBSCRIPTION_EVENT_NEW) {
        op = pa_context_get_source_info_by_index(context, index, &PulseConnection::OnSourceListed,
                                                 self);
      } else if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        auto it = self->sources_.find(index);
        if (it == self->sources_.end()) return;
        const std::string name = it->second;
        self->sources_.erase(it);
        self->NotifyWatches({CaptureDeviceChange::DeviceRemoved, name});
      } else if (kind == PA_SUBSCRIPTION_EVENT_CHANGE) {
        for (auto& [id, l] : self->listeners_)
          if (l.volume && l.source == index) {
            op = pa_context_get_source_info_by_index(context, index,
                                                     &PulseConnection::OnSourceChanged, self);
            break;
          }
      }
    }
    // The answers come later on this thread; the connection outlives them (disconnecting
    // cancels what is still on its way).
    if (op) pa_operation_unref(op);
  }

  static void OnServerChanged(pa_context*, const pa_server_info* info, void* userdata) {
    auto* self = static_cast<PulseConnection*>(userdata);
    if (!info) return;
    const std::string now = info->default_source_name ? info->default_source_name : "";
    if (now == self->defaultSource_) return;  // another of the server's settings changed
    self->defaultSource_ = now;
    self->NotifyWatches({CaptureDeviceChange::DefaultChanged, ""});
  }

  static void OnSourceChanged(pa_context*, const pa_source_info* info, int eol, void* userdata);

  std::shared_ptr<PulseLoop> owner_;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  bool ready_ = false, lost_ = false;
  std::string defaultSource_;
  std::map<std::uint32_t, std::string> sources_;
  std::map<std::uint64_t, Listener> listeners_;
  std::uint64_t next_ = 1;
};

namespace {

struct SourceQuery {
  explicit SourceQuery(PulseConnection* c) : connection(c) {}
  PulseConnection* connection;
  bool found = false;
  bool gone = false;  // the server has no such source (any more)
  bool muted = false;
  std::uint32_t index = PA_INVALID_INDEX;
  VolumeNotification volume;
};

void OnSourceInfo(pa_context* context, const pa_source_info* info, int eol, void* userdata) {
  auto* q = static_cast<SourceQuery*>(userdata);
  if (eol == 0 && info) {
    q->found = true;
    q->muted = info->mute != 0;
    q->index = info->index;
    q->volume.muted = q->muted;
    q->volume.masterVolume = static_cast<float>(pa_cvolume_avg(&info->volume)) / PA_VOLUME_NORM;
    q->volume.channelVolumes.clear();
    for (unsigned i = 0; i < info->volume.channels; ++i)
      q->volume.channelVolumes.push_back(static_cast<float>(info->volume.values[i]) /
                                         PA_VOLUME_NORM);
  }
  if (eol < 0 && context) q->gone = pa_context_errno(context) == PA_ERR_NOENTITY;
  if (eol != 0 && q->connection) q->connection->Signal();
}

class PulseEndpoint : public CaptureEndpoint {
 public:
  PulseEndpoint(std::shared_ptr<PulseConnection> connection, std::string source,
                std::uint32_t index)
      : c_(std::move(connection)), source_(std::move(source)), index_(index) {}
  ~PulseEndpoint() override {
    PulseConnection::Lock lock(*c_);
    if (listener_) c_->Remove(listener_);
  }

  std::optional<bool> GetMute() override {
    PulseConnection::Lock lock(*c_);
    SourceQuery q(c_.get());
    if (c_->Alive() &&
        c_->Wait(pa_context_get_source_info_by_index(c_->Context(), index_, OnSourceInfo, &q)) &&
        q.found)
      return q.muted;
    Check(q.gone);
    return std::nullopt;
  }

  bool SetMute(bool muted) override {
    PulseConnection::Lock lock(*c_);
    struct Result {
      PulseConnection* c;
      bool ok = false, gone = false;
    } r{c_.get()};
    auto done = [](pa_context* context, int success, void* userdata) {
      auto* res = static_cast<Result*>(userdata);
      res->ok = success != 0;
      res->gone = !success && pa_context_errno(context) == PA_ERR_NOENTITY;
      res->c->Signal();
    };
    if (c_->Alive() &&
        c_->Wait(pa_context_set_source_mute_by_index(c_->Context(), index_, muted, done, &r)) &&
        r.ok)
      return true;
    Check(r.gone);
    return false;
  }

  bool RegisterVolumeNotify(VolumeNotify notify) override {
    PulseConnection::Lock lock(*c_);
    if (listener_) c_->Remove(std::exchange(listener_, 0));
    if (!c_->Alive() || !notify) return false;
    listener_ = c_->AddVolume(index_, std::move(notify));
    return true;
  }

  std::string DeviceId() const override { return source_; }
  bool Invalidated() const override { return invalidated_; }

 private:
  // After a failed call: the source is gone, or the connection with it.
  void Check(bool gone) { invalidated_ = invalidated_ || gone || !c_->Alive(); }

  std::shared_ptr<PulseConnection> c_;
  std::string source_;
  std::uint32_t index_;
  std::uint64_t listener_ = 0;
  bool invalidated_ = false;
};

class PulseWatch : public CaptureDeviceWatch {
 public:
  PulseWatch(std::shared_ptr<PulseConnection> connection, std::uint64_t id)
      : c_(std::move(connection)), id_(id) {}
  ~PulseWatch() override {
    PulseConnection::Lock lock(*c_);
    c_->Remove(id_);
  }

 private:
  std::shared_ptr<PulseConnection> c_;
  std::uint64_t id_;
};

}  // namespace

void PulseConnection::OnSourceChanged(pa_context*, const pa_source_info* info, int eol,
                                      void* userdata) {
  auto* self = static_cast<PulseConnection*>(userdata);
  if (eol != 0 || !info) return;
  SourceQuery q(nullptr);
  OnSourceInfo(nullptr, info, 0, &q);
  for (auto& [id, l] : self->listeners_)
    if (l.volume && l.source == info->index) l.volume(q.volume);
}

namespace {

// --- ALSA ---------------------------------------------------------------------------------------

struct AlsaMixerHandle {
  snd_mixer_t* mixer = nullptr;
  ~AlsaMixerHandle() {
    if (mixer) snd_mixer_close(mixer);
  }
};

// Opens the card's mixer and finds the microphone's element: the first capture element named
// like a microphone, else "Capture".
MixerResult FindMicrophone(const std::string& card, AlsaMixerHandle& handle,
                           snd_mixer_elem_t*& element) {
  if (snd_mixer_open(&handle.mixer, 0) < 0) return MixerResult::NoDevice;
  if (snd_mixer_attach(handle.mixer, card.c_str()) < 0) return MixerResult::NoDevice;
  if (snd_mixer_selem_register(handle.mixer, nullptr, nullptr) < 0 ||
      snd_mixer_load(handle.mixer) < 0)
    return MixerResult::OpenFailed;
  snd_mixer_elem_t* fallback = nullptr;
  element = nullptr;
  for (auto* e = snd_mixer_first_elem(handle.mixer); e; e = snd_mixer_elem_next(e)) {
    const std::string name = snd_mixer_selem_get_name(e);
    if (name.find("Mic") != std::string::npos &&
        (snd_mixer_selem_has_capture_volume(e) || snd_mixer_selem_has_capture_switch(e))) {
      element = e;
      break;
    }
    if (name == "Capture" && !fallback) fallback = e;
  }
  if (!element) element = fallback;
  if (!element) return MixerResult::NoMicrophoneLine;
  if (!snd_mixer_selem_has_capture_switch(element)) return MixerResult::NoMuteControl;
  return MixerResult::Ok;
}

}  // namespace

PulseAudio::PulseAudio(std::string appName) : appName_(std::move(appName)) {}

PulseAudio::~PulseAudio() = default;

std::shared_ptr<PulseConnection> PulseAudio::Connection() {
  if (auto c = connection_.lock()) {
    PulseConnection::Lock lock(*c);
    if (c->Alive()) return c;
  }
  // The loop's thread is made once and sleeps between attempts: a reconnection creates no
  // thread.
  if (!loop_) loop_ = std::make_shared<PulseLoop>();
  auto c = std::make_shared<PulseConnection>(loop_, appName_);
  if (!c->Ready()) return nullptr;
  connection_ = c;
  return c;
}

std::unique_ptr<CaptureEndpoint> PulseAudio::OpenDefaultCaptureEndpoint() {
  auto c = Connection();
  if (!c) return nullptr;
  PulseConnection::Lock lock(*c);
  // Asked afresh: the default may have changed since the connection was made.
  struct Info {
    PulseConnection* c;
    std::string source;
  } info{c.get(), {}};
  auto onServer = [](pa_context*, const pa_server_info* server, void* userdata) {
    auto* i = static_cast<Info*>(userdata);
    if (server && server->default_source_name) i->source = server->default_source_name;
    i->c->Signal();
  };
  if (!c->Wait(pa_context_get_server_info(c->Context(), onServer, &info)) || info.source.empty())
    return nullptr;
  SourceQuery q(c.get());
  if (!c->Wait(pa_context_get_source_info_by_name(c->Context(), info.source.c_str(), OnSourceInfo,
                                                  &q)) ||
      !q.found)
    return nullptr;
  return std::make_unique<PulseEndpoint>(c, info.source, q.index);
}

std::unique_ptr<CaptureDeviceWatch> PulseAudio::WatchCaptureDevices(CaptureDeviceNotify notify) {
  if (!notify) return nullptr;
  auto c = Connection();
  if (!c) return nullptr;
  PulseConnection::Lock lock(*c);
  const std::uint64_t id = c->AddWatch(std::move(notify));
  return std::make_unique<PulseWatch>(c, id);
}

MixerResult AlsaMixer::GetMicrophoneMute(bool& muted) {
  AlsaMixerHandle handle;
  snd_mixer_elem_t* element = nullptr;
  if (auto r = FindMicrophone(card_, handle, element); r != MixerResult::Ok) return r;
  int on = 0;
  if (snd_mixer_selem_get_capture_switch(element, SND_MIXER_SCHN_FRONT_LEFT, &on) < 0)
    return MixerResult::DetailsFailed;
  muted = on == 0;
  return MixerResult::Ok;
}

MixerResult AlsaMixer::SetMicrophoneMute(bool muted) {
  AlsaMixerHandle handle;
  snd_mixer_elem_t* element = nullptr;
  if (auto r = FindMicrophone(card_, handle, element); r != MixerResult::Ok) return r;
  return snd_mixer_selem_set_capture_switch_all(element, muted ? 0 : 1) < 0
             ? MixerResult::DetailsFailed
             : MixerResult::Ok;
}

}  // namespace kv::platform::linux_
