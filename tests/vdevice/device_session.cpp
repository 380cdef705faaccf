#include "device_session.h"

#include <vector>

namespace vdevice_test {

DeviceSession::~DeviceSession() {
  if (lockdown_) lockdownd_client_free(lockdown_);
  if (device_) idevice_free(device_);
}

lockdownd_error_t DeviceSession::Open(const std::string& udid) {
  if (idevice_new_with_options(&device_, udid.c_str(), IDEVICE_LOOKUP_USBMUX) != IDEVICE_E_SUCCESS) {
    return LOCKDOWN_E_MUX_ERROR;
  }
  return lockdownd_client_new_with_handshake(device_, &lockdown_, "vdevice-test");
}

lockdownd_error_t DeviceSession::StartService(const std::string& name, lockdownd_service_descriptor_t* service) {
  return lockdownd_start_service(lockdown_, name.c_str(), service);
}

AfcSession::~AfcSession() {
  if (afc_) afc_client_free(afc_);
}

int AfcSession::Open(DeviceSession& session, const std::string& service) {
  lockdownd_service_descriptor_t descriptor = nullptr;
  lockdownd_error_t started = session.StartService(service, &descriptor);
  if (started != LOCKDOWN_E_SUCCESS) return started;
  afc_error_t created = afc_client_new(session.device(), descriptor, &afc_);
  lockdownd_service_descriptor_free(descriptor);
  return created;
}

afc_error_t AfcSession::WriteFile(const std::string& path, const std::string& content) {
  uint64_t handle = 0;
  afc_error_t error = afc_file_open(afc_, path.c_str(), AFC_FOPEN_WRONLY, &handle);
  if (error != AFC_E_SUCCESS) return error;
  uint32_t written = 0;
  error = afc_file_write(afc_, handle, content.data(), static_cast<uint32_t>(content.size()), &written);
  afc_file_close(afc_, handle);
  return error != AFC_E_SUCCESS ? error : written == content.size() ? AFC_E_SUCCESS : AFC_E_WRITE_ERROR;
}

afc_error_t AfcSession::ReadFile(const std::string& path, std::string* content) {
  uint64_t handle = 0;
  afc_error_t error = afc_file_open(afc_, path.c_str(), AFC_FOPEN_RDONLY, &handle);
  if (error != AFC_E_SUCCESS) return error;
  content->clear();
  std::vector<char> buffer(1 << 16);
  for (;;) {
    uint32_t got = 0;
    error = afc_file_read(afc_, handle, buffer.data(), static_cast<uint32_t>(buffer.size()), &got);
    if (error != AFC_E_SUCCESS || got == 0) break;
    content->append(buffer.data(), got);
  }
  afc_file_close(afc_, handle);
  return error;
}

ServiceConnection::~ServiceConnection() {
  if (connection_) idevice_disconnect(connection_);
}

bool ServiceConnection::Open(DeviceSession& session, const std::string& service) {
  lockdownd_service_descriptor_t descriptor = nullptr;
  if (session.StartService(service, &descriptor) != LOCKDOWN_E_SUCCESS) return false;
  idevice_error_t connected = idevice_connect(session.device(), descriptor->port, &connection_);
  lockdownd_service_descriptor_free(descriptor);
  return connected == IDEVICE_E_SUCCESS;
}

bool ServiceConnection::Send(const std::string& bytes) {
  uint32_t sent = 0;
  return idevice_connection_send(connection_, bytes.data(), static_cast<uint32_t>(bytes.size()), &sent) ==
             IDEVICE_E_SUCCESS &&
         sent == bytes.size();
}

bool ServiceConnection::Receive(size_t length, std::string* bytes, unsigned timeout_ms) {
  bytes->assign(length, '\0');
  size_t done = 0;
  while (done < length) {
    uint32_t got = 0;
    idevice_error_t error = idevice_connection_receive_timeout(
        connection_, bytes->data() + done, static_cast<uint32_t>(length - done), &got, timeout_ms);
    if (error != IDEVICE_E_SUCCESS || got == 0) return false;
    done += got;
  }
  return true;
}

}  // namespace vdevice_test
