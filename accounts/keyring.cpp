#include "accounts/keyring.h"

#include <libsecret/secret.h>

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "common/codepage.h"

namespace brevan {
namespace {

const SecretSchema& AccountSchema() {
  static const SecretSchema schema = [] {
    SecretSchema s;
    std::memset(&s, 0, sizeof s);
    s.name = "com.example.brevan.Account";
    s.flags = SECRET_SCHEMA_NONE;
    s.attributes[0] = {"server", SECRET_SCHEMA_ATTRIBUTE_STRING};
    s.attributes[1] = {"port", SECRET_SCHEMA_ATTRIBUTE_STRING};
    s.attributes[2] = {"user", SECRET_SCHEMA_ATTRIBUTE_STRING};
    return s;
  }();
  return schema;
}

// The attributes of an account, as UTF-8 (D-Bus strings must be).
GHashTable* Attributes(const KeyringAccount& account) {
  GHashTable* table = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free);
  g_hash_table_insert(table, g_strdup("server"), g_strdup(AnsiToUtf8(account.server).c_str()));
  g_hash_table_insert(table, g_strdup("port"), g_strdup(AnsiToUtf8(account.port).c_str()));
  g_hash_table_insert(table, g_strdup("user"), g_strdup(AnsiToUtf8(account.user).c_str()));
  return table;
}

// One keyring call, shared between the waiting thread and the worker: the
// waiter may give up and go while the worker still runs.
struct Call {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  KeyringResult result = KeyringResult::Unavailable;
  std::string value;
  GCancellable* cancellable = g_cancellable_new();
  ~Call() { g_object_unref(cancellable); }
};

// The job runs on the worker with the call's cancellable; it fills value
// for a lookup and answers the result.
using Job = std::function<KeyringResult(SecretService* service, GCancellable* cancellable, std::string& value)>;

KeyringResult RunJob(const Job& job, GCancellable* cancellable, std::string& value) {
  GError* error = nullptr;
  SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, cancellable, &error);
  if (!service) {
    if (error) g_error_free(error);
    return KeyringResult::Unavailable;
  }
  // GDBus ends the whole program when the session bus it shares goes away;
  // a keyring that vanishes only means the account file again.
  g_dbus_connection_set_exit_on_close(g_dbus_proxy_get_connection(G_DBUS_PROXY(service)), FALSE);
  KeyringResult result = job(service, cancellable, value);
  g_object_unref(service);
  return result;
}

KeyringResult RunBounded(const Job& job, const KeyringWait& wait, std::string* value) {
  auto call = std::make_shared<Call>();
  std::thread([call, job] {
    std::string got;
    KeyringResult result = RunJob(job, call->cancellable, got);
    {
      std::lock_guard<std::mutex> lock(call->m);
      call->done = true;
      call->result = result;
      call->value = std::move(got);
    }
    call->cv.notify_all();
  }).detach();

  const auto deadline = std::chrono::steady_clock::now() + wait.bound;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(call->m);
      const auto sliceEnd =
          std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(kKeyringSliceMs));
      call->cv.wait_until(lock, sliceEnd, [&] { return call->done; });
      if (call->done) {
        if (value) *value = std::move(call->value);
        return call->result;
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    if (wait.service) wait.service();
  }
  // The worker ends soon after (the D-Bus call is cancelled) and frees the
  // call as the last owner.
  g_cancellable_cancel(call->cancellable);
  return KeyringResult::TimedOut;
}

std::chrono::milliseconds g_bound{60000};

}  // namespace

std::chrono::milliseconds KeyringBound() { return g_bound; }
void SetKeyringBound(std::chrono::milliseconds bound) { g_bound = bound; }

std::string KeyringLabel(const KeyringAccount& account) {
  return "Brevan: " + account.user + "@" + account.server;
}

KeyringResult StoreKeyringPassword(const KeyringAccount& account, const std::string& password,
                                   const KeyringWait& wait) {
  const std::string label = AnsiToUtf8(KeyringLabel(account));
  const std::string secret = AnsiToUtf8(password);
  return RunBounded(
      [account, label, secret](SecretService* service, GCancellable* cancellable, std::string&) {
        GHashTable* attributes = Attributes(account);
        SecretValue* value = secret_value_new(secret.c_str(), static_cast<gssize>(secret.size()), "text/plain");
        GError* error = nullptr;
        const gboolean stored = secret_service_store_sync(service, &AccountSchema(), attributes,
                                                          SECRET_COLLECTION_DEFAULT, label.c_str(), value,
                                                          cancellable, &error);
        secret_value_unref(value);
        g_hash_table_unref(attributes);
        if (error) g_error_free(error);
        return stored ? KeyringResult::Done : KeyringResult::Unavailable;
      },
      wait, nullptr);
}

KeyringResult LookupKeyringPassword(const KeyringAccount& account, std::string* password, const KeyringWait& wait) {
  std::string found;
  const KeyringResult result = RunBounded(
      [account](SecretService* service, GCancellable* cancellable, std::string& out) {
        GHashTable* attributes = Attributes(account);
        GError* error = nullptr;
        SecretValue* value = secret_service_lookup_sync(service, &AccountSchema(), attributes, cancellable, &error);
        g_hash_table_unref(attributes);
        if (error) {
          g_error_free(error);
          if (value) secret_value_unref(value);
          return KeyringResult::Unavailable;
        }
        // An item in a collection that stays locked is not found either.
        if (!value) return KeyringResult::NotFound;
        gsize length = 0;
        const gchar* bytes = secret_value_get(value, &length);
        out = Utf8ToAnsi(std::string_view(bytes ? bytes : "", bytes ? length : 0));
        secret_value_unref(value);
        return KeyringResult::Done;
      },
      wait, &found);
  if (result == KeyringResult::Done && password) *password = std::move(found);
  return result;
}

KeyringResult DeleteKeyringPassword(const KeyringAccount& account, const KeyringWait& wait) {
  return RunBounded(
      [account](SecretService* service, GCancellable* cancellable, std::string&) {
        GHashTable* attributes = Attributes(account);
        GError* error = nullptr;
        // False without an error: there was nothing to delete.
        secret_service_clear_sync(service, &AccountSchema(), attributes, cancellable, &error);
        g_hash_table_unref(attributes);
        if (error) {
          g_error_free(error);
          return KeyringResult::Unavailable;
        }
        return KeyringResult::Done;
      },
      wait, nullptr);
}

}  // namespace brevan
