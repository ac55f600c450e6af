#include "filter/regex.h"

#include <pcre.h>

#include <algorithm>
#include <array>
#include <clocale>
#include <climits>
#include <cstdio>
#include <mutex>
#include <new>

namespace brevan {
namespace {

constexpr std::array<int, 9> kCompileBits = {
    PCRE_ANCHORED, PCRE_CASELESS,  PCRE_DOLLAR_ENDONLY, PCRE_DOTALL,          PCRE_EXTENDED,
    PCRE_EXTRA,    PCRE_MULTILINE, PCRE_UNGREEDY,       PCRE_NO_AUTO_CAPTURE,
};
constexpr std::array<int, 4> kMatchBits = {PCRE_ANCHORED, PCRE_NOTBOL, PCRE_NOTEOL, PCRE_NOTEMPTY};

// setlocale and pcre_maketables act on the process-wide locale.
std::mutex& LocaleLock() {
  static std::mutex lock;
  return lock;
}

// Finds the "$" references of a replacement text.
const std::shared_ptr<IRegex>& DollarRegex() {
  static const std::shared_ptr<IRegex> regex = NewRegex("\\$(\\d+|\\$|&|`|'|\\+|_)", 0);
  return regex;
}

// Offsets vectors up to this size live on the stack in IsMatch.
constexpr int kStackOffsets = 48;

}  // namespace

int CompileOptionsToPcre(unsigned options) {
  int out = 0;
  for (size_t k = 0; k < kCompileBits.size(); ++k) {
    if (options & (1u << k)) out |= kCompileBits[k];
  }
  return out;
}

unsigned PcreToCompileOptions(int pcreOptions) {
  unsigned out = 0;
  for (size_t k = 0; k < kCompileBits.size(); ++k) {
    if (pcreOptions & kCompileBits[k]) out |= 1u << k;
  }
  return out;
}

int MatchOptionsToPcre(unsigned options) {
  int out = 0;
  for (size_t k = 0; k < kMatchBits.size(); ++k) {
    if (options & (1u << k)) out |= kMatchBits[k];
  }
  return out;
}

std::string PcreErrorText(int code) {
  switch (code) {
    case PCRE_ERROR_NOMATCH: return "PCRE_ERROR_NOMATCH";
    case PCRE_ERROR_NULL: return "PCRE_ERROR_NULL";
    case PCRE_ERROR_BADOPTION: return "PCRE_ERROR_BADOPTION";
    case PCRE_ERROR_BADMAGIC: return "PCRE_ERROR_BADMAGIC";
    case PCRE_ERROR_UNKNOWN_NODE: return "PCRE_ERROR_UNKNOWN_NODE";
    case PCRE_ERROR_NOMEMORY: return "PCRE_ERROR_NOMEMORY";
    case PCRE_ERROR_NOSUBSTRING: return "PCRE_ERROR_NOSUBSTRING";
    default: return "Unknown PCRE error code " + std::to_string(code);
  }
}

const char* pcre_setlocale(int category, const char* name) {
  // glibc answers null for an unknown category as well as for an unknown name.
  return std::setlocale(category, name);
}

void pcre_free_ex(void* block) {
  if (block != nullptr) pcre_free(block);
}

// --- TRegexLocale -------------------------------------------------------------

TRegexLocale::TRegexLocale(std::string_view locale, int category) {
  if (locale == "C" && category == 0) return;
  const std::string name(locale);
  const auto bad = [&] {
    return EBadRegexLocale("Invalid locale string " + name + " or invalid locale category " +
                           std::to_string(category));
  };
  // A NUL would cut the name short and select a locale nobody asked for.
  if (name.find('\0') != std::string::npos) throw bad();

  std::lock_guard<std::mutex> hold(LocaleLock());
  // The tables are all we want from the locale; the rest of the program keeps
  // running under the locale it had, so the previous one is put back.
  const char* before = std::setlocale(category, nullptr);
  const std::string previous = before != nullptr ? before : "";
  const char* now = pcre_setlocale(category, name.c_str());
  if (now == nullptr) throw bad();
  name_ = now;
  const unsigned char* tables = pcre_maketables();
  if (!previous.empty()) std::setlocale(category, previous.c_str());
  if (tables == nullptr) throw std::bad_alloc();
  tables_ = tables;
  owned_ = true;
}

TRegexLocale::~TRegexLocale() {
  if (owned_) pcre_free_ex(const_cast<unsigned char*>(tables_));
}

// --- TRegex ---------------------------------------------------------------------

TRegex::TRegex(std::string_view pattern, unsigned options, std::string_view locale, int category)
    : pattern_(pattern), options_(options) {
  locale_ = std::make_unique<TRegexLocale>(locale, category);
  try {
    // The library reads the pattern up to its first NUL; a pattern holding one
    // would silently become a shorter pattern.
    const size_t nul = pattern_.find('\0');
    if (nul != std::string::npos) {
      // what() ends at a NUL, so the message shows it as an escape.
      std::string shown;
      for (char c : pattern_) shown += c == '\0' ? std::string("\\x00") : std::string(1, c);
      throw ERegexException("Invalid Pattern '" + shown + "': error at position " +
                            std::to_string(nul) + ": NUL byte in pattern");
    }
    const char* error = nullptr;
    int errorOffset = 0;
    code_ = pcre_compile(pattern_.c_str(), CompileOptionsToPcre(options), &error, &errorOffset,
                         locale_->Tables());
    if (code_ == nullptr) {
      throw ERegexException("Invalid Pattern '" + pattern_ + "': error at position " +
                            std::to_string(errorOffset) + ": " + (error ? error : ""));
    }
    const unsigned long compiled = Info<unsigned long>(PCRE_INFO_OPTIONS);
    captureCount_ = Info<int>(PCRE_INFO_CAPTURECOUNT);
    // An anchored pattern or one with a fixed first byte gains nothing from
    // studying.
    if ((compiled & PCRE_ANCHORED) == 0 && Info<int>(PCRE_INFO_FIRSTBYTE) < 0) {
      error = nullptr;
      study_ = pcre_study(static_cast<pcre*>(code_), 0, &error);
      if (error != nullptr) {
        throw ERegexException("Failed to study pattern'" + pattern_ + "' : " + error);
      }
    }
  } catch (...) {
    Release();
    throw;
  }
}

TRegex::~TRegex() { Release(); }

void TRegex::Release() {
  // Studied without JIT, so the study block is one plain allocation.
  pcre_free_ex(study_);
  pcre_free_ex(code_);
  study_ = nullptr;
  code_ = nullptr;
}

template <typename T>
T TRegex::Info(int what, T preset) const {
  T value = preset;
  const int rc = pcre_fullinfo(static_cast<const pcre*>(code_), static_cast<const pcre_extra*>(study_),
                               what, &value);
  if (rc < 0) throw ERegexException(PcreErrorText(rc));
  return value;
}

size_t TRegex::Size() const { return Info<size_t>(PCRE_INFO_SIZE); }
int TRegex::CaptureCount() const { return Info<int>(PCRE_INFO_CAPTURECOUNT); }
int TRegex::BackrefMax() const { return Info<int>(PCRE_INFO_BACKREFMAX); }
int TRegex::FirstByte() const { return Info<int>(PCRE_INFO_FIRSTBYTE); }
const unsigned char* TRegex::FirstTable() const {
  return Info<const unsigned char*>(PCRE_INFO_FIRSTTABLE, nullptr);
}
int TRegex::LastLiteral() const { return Info<int>(PCRE_INFO_LASTLITERAL, -1); }
std::string TRegex::LocaleName() const { return locale_->Name(); }
unsigned TRegex::Options() const {
  return PcreToCompileOptions(static_cast<int>(Info<unsigned long>(PCRE_INFO_OPTIONS)));
}
std::string TRegex::Pattern() const { return pattern_; }

bool TRegex::Exec(std::string_view subject, int startOffset, unsigned options, int* offsets,
                  int count) const {
  if (startOffset < 0 || static_cast<size_t>(startOffset) > subject.size()) return false;
  if (subject.size() > static_cast<size_t>(INT_MAX)) {
    throw ERegexException(PcreErrorText(PCRE_ERROR_BADLENGTH));
  }
  std::fill(offsets, offsets + count, 0);
  // An empty view may carry no pointer at all; the library takes that for a
  // missing subject.
  const char* bytes = subject.data() != nullptr ? subject.data() : "";
  const int rc = pcre_exec(static_cast<const pcre*>(code_), static_cast<const pcre_extra*>(study_),
                           bytes, static_cast<int>(subject.size()), startOffset,
                           MatchOptionsToPcre(options), offsets, count);
  if (rc == PCRE_ERROR_NOMATCH) return false;
  if (rc < 0) throw ERegexException(PcreErrorText(rc));
  // Groups after the last one that took part are not touched by the library.
  const int used = rc == 0 ? count / 3 : rc;
  for (int g = used; g < count / 3; ++g) offsets[2 * g] = offsets[2 * g + 1] = -1;
  return true;
}

std::shared_ptr<TRegexMatch> TRegex::MatchAt(const std::shared_ptr<const std::string>& subject,
                                             int startOffset, unsigned options) const {
  std::vector<int> offsets(3 * (static_cast<size_t>(captureCount_) + 1));
  if (!Exec(*subject, startOffset, options, offsets.data(), static_cast<int>(offsets.size()))) {
    return std::make_shared<TRegexMatch>(subject, 0, std::vector<int>());
  }
  return std::make_shared<TRegexMatch>(subject, captureCount_ + 1, std::move(offsets));
}

bool TRegex::IsMatch(std::string_view subject) const { return IsMatch(subject, 0, 0u); }
bool TRegex::IsMatch(std::string_view subject, unsigned options) const {
  return IsMatch(subject, 0, options);
}
bool TRegex::IsMatch(std::string_view subject, int startOffset) const {
  return IsMatch(subject, startOffset, 0u);
}
bool TRegex::IsMatch(std::string_view subject, int startOffset, unsigned options) const {
  const int count = 3 * (captureCount_ + 1);
  if (count <= kStackOffsets) {
    int offsets[kStackOffsets];
    return Exec(subject, startOffset, options, offsets, count);
  }
  std::vector<int> offsets(static_cast<size_t>(count));
  return Exec(subject, startOffset, options, offsets.data(), count);
}

std::shared_ptr<IMatch> TRegex::Match(std::string_view subject) const {
  return Match(subject, 0, 0u);
}
std::shared_ptr<IMatch> TRegex::Match(std::string_view subject, unsigned options) const {
  return Match(subject, 0, options);
}
std::shared_ptr<IMatch> TRegex::Match(std::string_view subject, int startOffset) const {
  return Match(subject, startOffset, 0u);
}
std::shared_ptr<IMatch> TRegex::Match(std::string_view subject, int startOffset,
                                      unsigned options) const {
  return MatchAt(std::make_shared<const std::string>(subject), startOffset, options);
}

void TRegex::Walk(const std::shared_ptr<const std::string>& subject, unsigned options,
                  const std::function<void(const std::shared_ptr<TRegexMatch>&)>& visit) const {
  int offset = 0;
  for (;;) {
    std::shared_ptr<TRegexMatch> match = MatchAt(subject, offset, options);
    if (!match->Success()) return;
    visit(match);
    int start = 0;
    int end = 0;
    match->GroupBounds(0, start, end);
    // An empty match moves the search on by one byte.
    offset = std::max(end, offset + 1);
  }
}

std::shared_ptr<IMatchCollection> TRegex::Matches(std::string_view subject) const {
  return Matches(subject, 0u);
}
std::shared_ptr<IMatchCollection> TRegex::Matches(std::string_view subject,
                                                  unsigned options) const {
  auto out = std::make_shared<TRegexMatchCollection>();
  Walk(std::make_shared<const std::string>(subject), options,
       [&](const std::shared_ptr<TRegexMatch>& m) { out->Add(m); });
  return out;
}
void TRegex::Matches(std::string_view subject, const MatchCallback& callback) const {
  Matches(subject, 0u, callback);
}
void TRegex::Matches(std::string_view subject, unsigned options,
                     const MatchCallback& callback) const {
  Walk(std::make_shared<const std::string>(subject), options,
       [&](const std::shared_ptr<TRegexMatch>& m) {
         if (callback) callback(m);
       });
}

std::shared_ptr<IStringCollection> TRegex::Split(std::string_view subject) const {
  return Split(subject, false, 0u);
}
std::shared_ptr<IStringCollection> TRegex::Split(std::string_view subject,
                                                 bool includeMatches) const {
  return Split(subject, includeMatches, 0u);
}
std::shared_ptr<IStringCollection> TRegex::Split(std::string_view subject, bool includeMatches,
                                                 unsigned options) const {
  auto out = std::make_shared<TRegexStringCollection>();
  auto text = std::make_shared<const std::string>(subject);
  int previousEnd = 0;
  Walk(text, options, [&](const std::shared_ptr<TRegexMatch>& m) {
    int start = 0;
    int end = 0;
    m->GroupBounds(0, start, end);
    out->Add(start > previousEnd ? text->substr(previousEnd, start - previousEnd) : std::string());
    if (includeMatches) out->Add(m->Value());
    for (int g = 1; g < m->Count(); ++g) {
      int gs = 0;
      int ge = 0;
      m->GroupBounds(g, gs, ge);
      if (gs != -1) out->Add(m->GroupValue(g));
    }
    previousEnd = std::max(previousEnd, end);
  });
  out->Add(text->substr(std::min(static_cast<size_t>(previousEnd), text->size())));
  return out;
}

std::string TRegex::Replace(std::string_view subject, std::string_view replacement) const {
  return Replace(subject, replacement, 0u);
}
std::string TRegex::Replace(std::string_view subject, const ReplaceCallback& callback) const {
  return Replace(subject, callback, 0u);
}
std::string TRegex::Replace(std::string_view subject, std::string_view replacement,
                            unsigned options) const {
  const std::string text(replacement);
  return Replace(
      subject,
      [&](const std::shared_ptr<IMatch>& m) { return TSubstitute(m).Expand(text); }, options);
}
std::string TRegex::Replace(std::string_view subject, const ReplaceCallback& callback,
                            unsigned options) const {
  if (!callback) return std::string(subject);
  auto text = std::make_shared<const std::string>(subject);
  std::string out;
  int previousEnd = 0;
  Walk(text, options, [&](const std::shared_ptr<TRegexMatch>& m) {
    int start = 0;
    int end = 0;
    m->GroupBounds(0, start, end);
    if (start > previousEnd) out.append(*text, previousEnd, start - previousEnd);
    out += callback(m);
    previousEnd = std::max(previousEnd, end);
  });
  if (static_cast<size_t>(previousEnd) < text->size()) out.append(*text, previousEnd);
  return out;
}

// --- TRegexMatch ----------------------------------------------------------------

TRegexMatch::TRegexMatch(std::shared_ptr<const std::string> subject, int groupCount,
                         std::vector<int> offsets)
    : subject_(std::move(subject)), groupCount_(groupCount), offsets_(std::move(offsets)) {
  if (!subject_) subject_ = std::make_shared<const std::string>();
  if (offsets_.empty() != (groupCount_ == 0) || offsets_.size() % 3 != 0 ||
      offsets_.size() != 3 * static_cast<size_t>(groupCount_)) {
    throw std::invalid_argument("TRegexMatch: offsets do not fit the group count");
  }
}

void TRegexMatch::GroupBounds(int group, int& start, int& end) const {
  start = -1;
  end = -1;
  if (groupCount_ == 0 || offsets_[0] == -1) return;
  if (group >= 0 && group < groupCount_) {
    start = offsets_[2 * group];
    end = offsets_[2 * group + 1];
  } else if (group == -1) {
    start = 0;
    end = offsets_[0];
  } else if (group == -2) {
    start = offsets_[1];
    end = static_cast<int>(subject_->size());
  }
}

std::string TRegexMatch::GroupValue(int group) const {
  int start = 0;
  int end = 0;
  GroupBounds(group, start, end);
  if (start < 0 || end < start || static_cast<size_t>(start) > subject_->size()) return {};
  return subject_->substr(start, end - start);
}

std::shared_ptr<ICaptureGroup> TRegexMatch::Items(int index) const {
  return std::make_shared<TRegexCaptureGroup>(shared_from_this(), index);
}

bool TRegexMatch::Success() const {
  int start = 0;
  int end = 0;
  GroupBounds(0, start, end);
  return start != -1;
}

int TRegexMatch::Index() const {
  int start = 0;
  int end = 0;
  GroupBounds(0, start, end);
  return start;
}

int TRegexMatch::Length() const {
  int start = 0;
  int end = 0;
  GroupBounds(0, start, end);
  return end - start;
}

std::shared_ptr<ICaptureGroupCollection> TRegexMatch::Groups() const {
  return std::const_pointer_cast<TRegexMatch>(shared_from_this());
}

// --- TRegexCaptureGroup -----------------------------------------------------------

TRegexCaptureGroup::TRegexCaptureGroup(std::shared_ptr<const TRegexMatch> match, int index)
    : match_(std::move(match)), index_(index) {
  if (!match_) throw std::invalid_argument("TRegexCaptureGroup: no match");
}

bool TRegexCaptureGroup::Success() const { return Index() != -1; }
std::string TRegexCaptureGroup::Value() const { return match_->GroupValue(index_); }
int TRegexCaptureGroup::Index() const {
  int start = 0;
  int end = 0;
  match_->GroupBounds(index_, start, end);
  return start;
}
int TRegexCaptureGroup::Length() const {
  int start = 0;
  int end = 0;
  match_->GroupBounds(index_, start, end);
  return end - start;
}

// --- collections --------------------------------------------------------------------

void TRegexMatchCollection::Add(std::shared_ptr<IMatch> match) {
  if (!match) throw std::invalid_argument("TRegexMatchCollection: null match");
  items_.push_back(std::move(match));
}

std::shared_ptr<IMatch> TRegexMatchCollection::Items(int index) const {
  return items_.at(static_cast<size_t>(index));
}

std::string TRegexStringCollection::Items(int index) const {
  return items_.at(static_cast<size_t>(index));
}

// --- TSubstitute ----------------------------------------------------------------------

std::string TSubstitute::Expand(std::string_view replacement) const {
  return DollarRegex()->Replace(
      replacement, [this](const std::shared_ptr<IMatch>& reference) { return Reference(reference); });
}

std::string TSubstitute::Reference(const std::shared_ptr<IMatch>& reference) const {
  const std::string key = reference->Groups()->Items(1)->Value();
  const auto groups = match_->Groups();
  switch (key[0]) {
    case '$': return "$";
    case '&': return match_->Value();
    case '`': return groups->Items(-1)->Value();
    case '\'': return groups->Items(-2)->Value();
    case '+': return groups->Items(groups->Count() - 1)->Value();
    case '_':
      return groups->Items(-1)->Value() + match_->Value() + groups->Items(-2)->Value();
    default: break;
  }
  // Digits. A number too large for an int names no group either.
  long long n = 0;
  for (char c : key) {
    n = n * 10 + (c - '0');
    if (n > INT_MAX) break;
  }
  if (n >= groups->Count()) {
    if (n > INT_MAX) throw ERegexInvalidSubstitutionGroup("Invalid substitution variable $" + key);
    throw ERegexInvalidSubstitutionGroup("Invalid substitution variable $" + std::to_string(n));
  }
  return groups->Items(static_cast<int>(n))->Value();
}

// --- factory ----------------------------------------------------------------------------

std::shared_ptr<IRegex> NewRegex(std::string_view pattern, unsigned options,
                                 std::string_view locale, int category) {
  return std::make_shared<TRegex>(pattern, options, locale, category);
}

}  // namespace brevan
