#include "service/mqtt_client.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qm::service {

MqttPublisher::MqttPublisher(const MqttConfig& config, std::vector<Meter> meters, State& state)
    : config_(config), meters_(std::move(meters)), state_(state) {
  state_.EnableMqtt();
  for (const Meter& m : meters_) availability_[m.name] = false;
}

MqttPublisher::~MqttPublisher() {
  Stop();
  if (mosq_) mosquitto_destroy(mosq_);
}

std::string MqttPublisher::Broker() const {
  return std::string(config_.tls ? "mqtts://" : "mqtt://") + config_.host + ":" +
         std::to_string(config_.port);
}

bool MqttPublisher::Start(std::string& error) {
  mosquitto_lib_init();
  mosq_ = mosquitto_new(config_.clientId.c_str(), true, this);
  if (!mosq_) {
    error = "MQTT broker " + Broker() + ": cannot create a client";
    return false;
  }
  mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_connect_callback_set(mosq_, &MqttPublisher::OnConnect);
  mosquitto_disconnect_callback_set(mosq_, &MqttPublisher::OnDisconnect);
  mosquitto_publish_callback_set(mosq_, &MqttPublisher::OnPublish);
  mosquitto_threaded_set(mosq_, true);  // the workers publish while Loop() runs
  const std::string status = StatusTopic(config_);
  int rc = mosquitto_will_set(mosq_, status.c_str(), 7, "offline", 1, true);
  if (rc == MOSQ_ERR_SUCCESS && !config_.username.empty())
    rc = mosquitto_username_pw_set(mosq_, config_.username.c_str(),
                                   config_.password.empty() ? nullptr : config_.password.c_str());
  if (rc == MOSQ_ERR_SUCCESS && config_.tls) {
    const char* ca = config_.caFile.empty() ? nullptr : config_.caFile.c_str();
    rc = mosquitto_tls_set(mosq_, ca, ca ? nullptr : "/etc/ssl/certs",
                           config_.certFile.empty() ? nullptr : config_.certFile.c_str(),
                           config_.keyFile.empty() ? nullptr : config_.keyFile.c_str(), nullptr);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_tls_insecure_set(mosq_, config_.tlsInsecure);
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    error = "MQTT broker " + Broker() + ": " + mosquitto_strerror(rc);
    return false;
  }
  rc = mosquitto_connect_async(mosq_, config_.host.c_str(), config_.port, 30);
  if (rc != MOSQ_ERR_SUCCESS) Unreachable(rc);  // not fatal: Loop() keeps trying
  stop_ = false;
  thread_ = std::thread([this] { Loop(); });
  return true;
}

void MqttPublisher::Unreachable(int rc) {
  std::lock_guard lock(mutex_);
  const std::string problem = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
  if (problem != lastProblem_)
    std::fprintf(stderr, "qm7410d: MQTT broker %s unreachable: %s; retrying\n", Broker().c_str(),
                 problem.c_str());
  lastProblem_ = problem;
}

// libmosquitto's own loop thread gives up when the very first connection fails; this one keeps
// trying, 1 s after a loss and up to 30 s apart while the broker stays away.
void MqttPublisher::Loop() {
  int delayS = 1;
  while (!stop_) {
    const int rc = mosquitto_loop(mosq_, 1000, 1);
    if (rc == MOSQ_ERR_SUCCESS || stop_) continue;
    {
      std::unique_lock lock(mutex_);
      if (connectedOnce_) delayS = 1;
      connectedOnce_ = false;
      wake_.wait_for(lock, std::chrono::seconds(delayS), [this] { return stop_.load(); });
    }
    if (stop_) break;
    delayS = std::min(delayS * 2, 30);
    const int again = mosquitto_reconnect(mosq_);
    if (again != MOSQ_ERR_SUCCESS) Unreachable(again);
  }
}

void MqttPublisher::Stop() {
  if (!mosq_ || !thread_.joinable()) return;
  std::unique_lock lock(mutex_);
  if (connected_) {
    // A clean end sends no will, so the service says it itself; the loop sends it, then the
    // disconnection, and reports the end.
    const std::string status = StatusTopic(config_);
    mosquitto_publish(mosq_, nullptr, status.c_str(), 7, "offline", 1, true);
    mosquitto_disconnect(mosq_);
    wake_.wait_for(lock, std::chrono::seconds(5), [this] { return !connected_; });
  }
  connected_ = false;
  stop_ = true;
  lock.unlock();
  wake_.notify_all();
  mosquitto_disconnect(mosq_);
  thread_.join();
}

void MqttPublisher::OnConnect(mosquitto*, void* self, int rc) {
  static_cast<MqttPublisher*>(self)->Connected(rc);
}

void MqttPublisher::OnDisconnect(mosquitto*, void* self, int rc) {
  static_cast<MqttPublisher*>(self)->Disconnected(rc);
}

void MqttPublisher::OnPublish(mosquitto*, void* self, int mid) {
  static_cast<MqttPublisher*>(self)->Acknowledged(mid);
}

void MqttPublisher::Acknowledged(int mid) {
  std::lock_guard lock(mutex_);
  const auto id = messageIds_.find(mid);
  if (id == messageIds_.end()) return;  // status, discovery, availability
  const auto reading = inFlight_.find(id->second);
  messageIds_.erase(id);
  if (reading != inFlight_.end() && --reading->second.unacknowledged <= 0) inFlight_.erase(reading);
  Report();
}

void MqttPublisher::Connected(int rc) {
  std::lock_guard lock(mutex_);
  if (rc != 0) {
    const std::string problem = mosquitto_connack_string(rc);
    if (problem != lastProblem_)
      std::fprintf(stderr, "qm7410d: MQTT broker %s refused the connection: %s\n", Broker().c_str(),
                   problem.c_str());
    lastProblem_ = problem;
    return;
  }
  connected_ = true;
  connectedOnce_ = true;
  lastProblem_.clear();
  std::fprintf(stderr, "qm7410d: MQTT broker %s %s\n", Broker().c_str(),
               everConnected_ ? "back" : "connected");
  everConnected_ = true;
  Send({StatusTopic(config_), "online", true});
  if (config_.discovery)
    for (const Meter& m : meters_)
      for (const MqttMessage& d : DiscoveryMessages(config_, m.name, m.address)) Send(d);
  for (const auto& [name, online] : availability_)
    Send({AvailabilityTopic(config_, name), online ? "online" : "offline", true});
  Drain();
}

void MqttPublisher::Disconnected(int rc) {
  std::lock_guard lock(mutex_);
  const bool was = connected_;
  connected_ = false;
  wake_.notify_all();
  // What the broker did not acknowledge goes again, before the readings taken since, in order.
  for (auto it = inFlight_.rbegin(); it != inFlight_.rend(); ++it) {
    it->second.unacknowledged = 0;
    queue_.push_front(std::move(it->second));
  }
  inFlight_.clear();
  messageIds_.clear();
  while (queue_.size() > std::max<size_t>(config_.queueReadings, 1)) {
    queue_.pop_front();
    ++dropped_;
  }
  if (rc == 0) return;  // our own disconnect
  const std::string problem = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
  if (was)
    std::fprintf(stderr, "qm7410d: MQTT broker %s lost: %s; readings are queued (up to %zu)\n",
                 Broker().c_str(), problem.c_str(), config_.queueReadings);
  else if (problem != lastProblem_)
    std::fprintf(stderr, "qm7410d: MQTT broker %s unreachable: %s; retrying\n", Broker().c_str(),
                 problem.c_str());
  lastProblem_ = problem;
  Report();
}

bool MqttPublisher::Send(const MqttMessage& m, int* mid) {
  return mosquitto_publish(mosq_, mid, m.topic.c_str(), static_cast<int>(m.payload.size()), m.payload.data(),
                           1, m.retain) == MOSQ_ERR_SUCCESS;
}

void MqttPublisher::Drain() {
  while (connected_ && !queue_.empty()) {
    Queued& reading = queue_.front();
    const uint64_t seq = ++sequence_;
    bool ok = true;
    for (const MqttMessage& m : reading.messages) {
      int mid = 0;
      ok = ok && Send(m, &mid);
      if (!ok) break;
      messageIds_[mid] = seq;
      ++reading.unacknowledged;
    }
    inFlight_[seq] = std::move(reading);
    queue_.pop_front();
    if (!ok) break;  // back to the queue when the disconnection is noticed
  }
  Report();
}

void MqttPublisher::Report() { state_.Mqtt(connected_, queue_.size() + inFlight_.size(), dropped_); }

void MqttPublisher::Reading(const std::string& meter, std::chrono::system_clock::time_point time,
                            const cli::MeterReading& reading) {
  std::vector<MqttMessage> messages = ReadingMessages(config_, meter, time, reading);
  std::lock_guard lock(mutex_);
  if (config_.queueReadings == 0 && !connected_) {
    ++dropped_;
    Report();
    return;
  }
  while (queue_.size() + inFlight_.size() >= std::max<size_t>(config_.queueReadings, 1) && !queue_.empty()) {
    queue_.pop_front();
    ++dropped_;
  }
  queue_.push_back({std::move(messages), 0});
  Drain();
}

void MqttPublisher::Availability(const std::string& meter, bool online) {
  std::lock_guard lock(mutex_);
  availability_[meter] = online;
  if (connected_) Send({AvailabilityTopic(config_, meter), online ? "online" : "offline", true});
}

}  // namespace qm::service
