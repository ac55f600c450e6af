// Passwords in a real GNOME Keyring on a private session bus: what is
// stored is found under exactly its server, port and user, a locked
// collection and a stopped keyring fall back, and a bus without any Secret
// Service answers at once that there is none.
#include <libsecret/secret.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <ostream>

#include <gtest/gtest.h>

#include "accounts/keyring.h"
#include "common/codepage.h"
#include "tests/support/private_session_bus.h"

namespace brevan {
namespace {

using std::chrono::milliseconds;
using test::PrivateSessionBus;

std::string Cp(const char* utf8) { return Utf8ToAnsi(utf8); }

KeyringWait Quick(milliseconds bound = milliseconds(10000)) { return KeyringWait{bound, nullptr}; }

class KeyringBusTest : public ::testing::Test {
 protected:
  virtual bool WithKeyring() const { return true; }
  void SetUp() override {
    if (auto why = PrivateSessionBus::Unavailable(WithKeyring()); !why.empty()) GTEST_SKIP() << why;
    bus_ = std::make_unique<PrivateSessionBus>(WithKeyring());
    bus_->UseForThisProcess();
  }
  // GLib keeps the first session bus it finds for the life of the process:
  // each test runs in a process of its own, as ctest runs them.
  void TearDown() override {
    secret_service_disconnect();
    if (bus_) bus_->Stop();
  }
  std::unique_ptr<PrivateSessionBus> bus_;
};

// The labels of the items stored under a server, straight from the keyring.
std::vector<std::string> LabelsFor(const std::string& serverUtf8) {
  std::vector<std::string> labels;
  GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
  g_hash_table_insert(attributes, const_cast<char*>("server"), const_cast<char*>(serverUtf8.c_str()));
  GError* error = nullptr;
  GList* found = secret_service_search_sync(nullptr, nullptr, attributes, SECRET_SEARCH_ALL, nullptr, &error);
  g_hash_table_unref(attributes);
  if (error) g_error_free(error);
  for (GList* at = found; at; at = at->next) {
    gchar* label = secret_item_get_label(SECRET_ITEM(at->data));
    labels.push_back(label ? label : "");
    g_free(label);
  }
  g_list_free_full(found, g_object_unref);
  return labels;
}

struct RoundTripRow {
  const char* name;
  KeyringAccount account;
  std::string password;
};
void PrintTo(const RoundTripRow& row, std::ostream* os) { *os << row.name; }

class KeyringRoundTrip : public KeyringBusTest, public ::testing::WithParamInterface<RoundTripRow> {};

TEST_P(KeyringRoundTrip, StoredFoundUnderItsOwnKeyOnlyAndDeleted) {
  const RoundTripRow& row = GetParam();
  const KeyringAccount& a = row.account;
  ASSERT_EQ(StoreKeyringPassword(a, row.password, Quick()), KeyringResult::Done);
  // A second account on the same server, another user: its own item.
  const KeyringAccount neighbour{a.server, a.port, a.user + "2"};
  ASSERT_EQ(StoreKeyringPassword(neighbour, "other", Quick()), KeyringResult::Done);

  std::string got = "untouched";
  EXPECT_EQ(LookupKeyringPassword(a, &got, Quick()), KeyringResult::Done);
  EXPECT_EQ(got, row.password);
  // Storing again replaces, never duplicates.
  ASSERT_EQ(StoreKeyringPassword(a, row.password + "!", Quick()), KeyringResult::Done);
  EXPECT_EQ(LookupKeyringPassword(a, &got, Quick()), KeyringResult::Done);
  EXPECT_EQ(got, row.password + "!");
  std::vector<std::string> labels = LabelsFor(AnsiToUtf8(a.server));
  std::vector<std::string> expected{AnsiToUtf8(KeyringLabel(a)), AnsiToUtf8(KeyringLabel(neighbour))};
  std::sort(labels.begin(), labels.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(labels, expected);

  got = "untouched";
  EXPECT_EQ(LookupKeyringPassword({a.server, a.port + "0", a.user}, &got, Quick()), KeyringResult::NotFound);
  EXPECT_EQ(LookupKeyringPassword({a.server + ".", a.port, a.user}, &got, Quick()), KeyringResult::NotFound);
  EXPECT_EQ(got, "untouched");

  EXPECT_EQ(DeleteKeyringPassword(a, Quick()), KeyringResult::Done);
  EXPECT_EQ(LookupKeyringPassword(a, &got, Quick()), KeyringResult::NotFound);
  EXPECT_EQ(DeleteKeyringPassword(a, Quick()), KeyringResult::Done) << "nothing left to delete is no failure";
  EXPECT_EQ(LookupKeyringPassword(neighbour, &got, Quick()), KeyringResult::Done);
  EXPECT_EQ(got, "other");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, KeyringRoundTrip,
    ::testing::Values(RoundTripRow{"ascii", {"pop.example.com", "110", "alice"}, "s3cret"},
                      RoundTripRow{"big5_server_user_and_password", {Cp("郵件.example"), "110", Cp("許功蓋")},
                                   Cp("密碼許功蓋")},
                      RoundTripRow{"separators_and_blanks_in_the_password", {"a.example", "995", "bob"},
                                   " pw;with;semicolons and blanks "},
                      RoundTripRow{"blank_password", {"b.example", "110", "carol"}, ""}),
    [](const ::testing::TestParamInfo<RoundTripRow>& info) { return std::string(info.param.name); });

TEST_F(KeyringBusTest, LockedCollectionRefusesWithoutHangingAndHidesItsItems) {
  const KeyringAccount a{"pop.example.com", "110", "alice"};
  ASSERT_EQ(StoreKeyringPassword(a, "pw", Quick()), KeyringResult::Done);
  bus_->LockKeyring();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(StoreKeyringPassword({"other.example", "110", "bob"}, "pw", Quick()), KeyringResult::Unavailable);
  std::string got = "untouched";
  EXPECT_NE(LookupKeyringPassword(a, &got, Quick()), KeyringResult::Done);
  EXPECT_EQ(got, "untouched");
  // With nobody to answer an unlock prompt, the refusal comes at once.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(KeyringBusTest, UnansweredKeyringIsCancelledAtTheBoundWhileTheCallerIsServiced) {
  const KeyringAccount a{"pop.example.com", "110", "alice"};
  ASSERT_EQ(StoreKeyringPassword(a, "pw", Quick()), KeyringResult::Done);
  bus_->PauseKeyring();
  int serviced = 0;
  const auto start = std::chrono::steady_clock::now();
  std::string got = "untouched";
  EXPECT_EQ(LookupKeyringPassword(a, &got, KeyringWait{milliseconds(600), [&] { ++serviced; }}),
            KeyringResult::TimedOut);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, milliseconds(600));
  EXPECT_LT(took, milliseconds(2000));
  EXPECT_GE(serviced, 600 / kKeyringSliceMs - 3) << "serviced in slices of at most " << kKeyringSliceMs << " ms";
  EXPECT_EQ(got, "untouched");
  bus_->ResumeKeyring();
  EXPECT_EQ(LookupKeyringPassword(a, &got, Quick()), KeyringResult::Done) << "a later call finds it again";
  EXPECT_EQ(got, "pw");
}

class NoSecretServiceTest : public KeyringBusTest {
 protected:
  bool WithKeyring() const override { return false; }
};

TEST_F(NoSecretServiceTest, EveryCallAnswersUnavailableAtOnce) {
  const KeyringAccount a{"pop.example.com", "110", "alice"};
  const auto start = std::chrono::steady_clock::now();
  std::string got = "untouched";
  EXPECT_EQ(StoreKeyringPassword(a, "pw", Quick()), KeyringResult::Unavailable);
  EXPECT_EQ(LookupKeyringPassword(a, &got, Quick()), KeyringResult::Unavailable);
  EXPECT_EQ(DeleteKeyringPassword(a, Quick()), KeyringResult::Unavailable);
  EXPECT_EQ(got, "untouched");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(NoSessionBusTest, EveryCallAnswersUnavailable) {
  ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/brevan-no-bus", 1);
  const KeyringAccount a{"pop.example.com", "110", "alice"};
  EXPECT_EQ(StoreKeyringPassword(a, "pw", Quick()), KeyringResult::Unavailable);
  std::string got;
  EXPECT_EQ(LookupKeyringPassword(a, &got, Quick()), KeyringResult::Unavailable);
  secret_service_disconnect();
}

}  // namespace
}  // namespace brevan
