#pragma once
// Saved passwords in the desktop's keyring: the Secret Service on the session
// bus (GNOME Keyring, KWallet), through libsecret. One item per account,
// found by its server, port and user, labelled "Brevan: user@server".
//
// A keyring may take its time: a locked one asks the user to unlock it, a
// stuck one never answers. Every call therefore runs on a thread of its own
// while the caller's thread waits in short slices, running the service
// callback between them (the windows stay alive), and gives up at the bound:
// the call is cancelled and the caller falls back to the account file.
//
// Texts are in the code page; the keyring holds them as UTF-8.
#include <chrono>
#include <functional>
#include <string>

namespace brevan {

struct KeyringAccount {
  std::string server, port, user;
};

enum class KeyringResult {
  Done,         // stored; found; deleted (nothing to delete counts as done)
  NotFound,     // a lookup found no item
  Unavailable,  // no session bus, no Secret Service, or it refused (a collection left locked)
  TimedOut,     // no answer within the bound; the call was cancelled
};

struct KeyringWait {
  std::chrono::milliseconds bound{60000};  // long enough to type an unlock password
  std::function<void()> service;           // run at least every kKeyringSliceMs while waiting
};

constexpr int kKeyringSliceMs = 50;

// The bound the session windows give every keyring call; tests shorten it.
std::chrono::milliseconds KeyringBound();
void SetKeyringBound(std::chrono::milliseconds bound);

// "Brevan: user@server".
std::string KeyringLabel(const KeyringAccount& account);

// Stores (or replaces) the account's password in the default collection.
KeyringResult StoreKeyringPassword(const KeyringAccount& account, const std::string& password,
                                   const KeyringWait& wait);
// The account's password into *password when Done; untouched otherwise.
KeyringResult LookupKeyringPassword(const KeyringAccount& account, std::string* password, const KeyringWait& wait);
// Removes the account's item, if there is one.
KeyringResult DeleteKeyringPassword(const KeyringAccount& account, const KeyringWait& wait);

}  // namespace brevan
