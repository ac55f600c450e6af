#pragma once
// A small object layer over the 8-bit PCRE library: compiled patterns, match
// objects, collections of matches, splitting and replacement with "$"
// references. Objects are reference-counted through std::shared_ptr and
// reached through the abstract interfaces below.
//
// Subjects are byte strings in the user's code page, never UTF-8; offsets are
// 0-based byte offsets.
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace brevan {

// Compile options: bit k of the set stands for member k.
constexpr unsigned kRegexAnchored = 1u << 0;        // PCRE_ANCHORED
constexpr unsigned kRegexCaseless = 1u << 1;        // PCRE_CASELESS
constexpr unsigned kRegexDollarEndOnly = 1u << 2;   // PCRE_DOLLAR_ENDONLY
constexpr unsigned kRegexDotAll = 1u << 3;          // PCRE_DOTALL
constexpr unsigned kRegexExtended = 1u << 4;        // PCRE_EXTENDED
constexpr unsigned kRegexExtra = 1u << 5;           // PCRE_EXTRA
constexpr unsigned kRegexMultiLine = 1u << 6;       // PCRE_MULTILINE
constexpr unsigned kRegexUngreedy = 1u << 7;        // PCRE_UNGREEDY
constexpr unsigned kRegexNoAutoCapture = 1u << 8;   // PCRE_NO_AUTO_CAPTURE

// Match options, mapped the same way.
constexpr unsigned kMatchAnchored = 1u << 0;  // PCRE_ANCHORED
constexpr unsigned kMatchNotBol = 1u << 1;    // PCRE_NOTBOL
constexpr unsigned kMatchNotEol = 1u << 2;    // PCRE_NOTEOL
constexpr unsigned kMatchNotEmpty = 1u << 3;  // PCRE_NOTEMPTY

// The option sets to and from the library's bits. Bits outside the tables are
// dropped.
int CompileOptionsToPcre(unsigned options);
unsigned PcreToCompileOptions(int pcreOptions);
int MatchOptionsToPcre(unsigned options);

class ERegexException : public std::runtime_error {
 public:
  explicit ERegexException(const std::string& message) : std::runtime_error(message) {}
};

class EBadRegexLocale : public ERegexException {
 public:
  using ERegexException::ERegexException;
};

class ERegexInvalidSubstitutionGroup : public ERegexException {
 public:
  using ERegexException::ERegexException;
};

// The message of a library result code ("PCRE_ERROR_NULL", ...; "Unknown PCRE
// error code %d" for codes without a name).
std::string PcreErrorText(int code);

// Makes the locale `name` current for `category` of the process and returns
// the name of the locale now in force, or null when the name or the category
// is not valid. The library has no such call; this is built over setlocale.
const char* pcre_setlocale(int category, const char* name);

// Releases a block the library allocated (compiled pattern, study data without
// JIT, character tables); null is accepted.
void pcre_free_ex(void* block);

// --- interfaces -----------------------------------------------------------

class ICaptureGroup {
 public:
  virtual ~ICaptureGroup() = default;
  virtual bool Success() const = 0;
  virtual std::string Value() const = 0;
  virtual int Index() const = 0;
  virtual int Length() const = 0;
};

class ICaptureGroupCollection {
 public:
  virtual ~ICaptureGroupCollection() = default;
  virtual int Count() const = 0;
  // A new group object for index g: 0 .. Count()-1 are the groups (0 is the
  // whole match), -1 the text before the match, -2 the text after it.
  virtual std::shared_ptr<ICaptureGroup> Items(int index) const = 0;
};

class IMatch {
 public:
  virtual ~IMatch() = default;
  virtual bool Success() const = 0;
  virtual std::string Value() const = 0;
  virtual int Index() const = 0;
  virtual int Length() const = 0;
  virtual std::shared_ptr<ICaptureGroupCollection> Groups() const = 0;
};

class IMatchCollection {
 public:
  virtual ~IMatchCollection() = default;
  virtual int Count() const = 0;
  virtual std::shared_ptr<IMatch> Items(int index) const = 0;
};

class IStringCollection {
 public:
  virtual ~IStringCollection() = default;
  virtual int Count() const = 0;
  virtual std::string Items(int index) const = 0;
};

using MatchCallback = std::function<void(const std::shared_ptr<IMatch>&)>;
using ReplaceCallback = std::function<std::string(const std::shared_ptr<IMatch>&)>;

// What the library knows about a compiled pattern. A regular expression from
// NewRegex also is an IRegexInfo (std::dynamic_pointer_cast).
class IRegexInfo {
 public:
  virtual ~IRegexInfo() = default;
  virtual size_t Size() const = 0;
  virtual int CaptureCount() const = 0;
  virtual int BackrefMax() const = 0;
  virtual int FirstByte() const = 0;
  virtual const unsigned char* FirstTable() const = 0;
  virtual int LastLiteral() const = 0;
  virtual std::string LocaleName() const = 0;
  virtual unsigned Options() const = 0;
  virtual std::string Pattern() const = 0;
};

// Overloads take the start offset as int and the match options as unsigned;
// pass the kMatch* constants (unsigned) for options.
class IRegex {
 public:
  virtual ~IRegex() = default;

  virtual bool IsMatch(std::string_view subject) const = 0;
  virtual bool IsMatch(std::string_view subject, unsigned options) const = 0;
  virtual bool IsMatch(std::string_view subject, int startOffset) const = 0;
  virtual bool IsMatch(std::string_view subject, int startOffset, unsigned options) const = 0;

  virtual std::shared_ptr<IMatch> Match(std::string_view subject) const = 0;
  virtual std::shared_ptr<IMatch> Match(std::string_view subject, unsigned options) const = 0;
  virtual std::shared_ptr<IMatch> Match(std::string_view subject, int startOffset) const = 0;
  virtual std::shared_ptr<IMatch> Match(std::string_view subject, int startOffset,
                                        unsigned options) const = 0;

  virtual std::shared_ptr<IMatchCollection> Matches(std::string_view subject) const = 0;
  virtual std::shared_ptr<IMatchCollection> Matches(std::string_view subject,
                                                    unsigned options) const = 0;
  virtual void Matches(std::string_view subject, const MatchCallback& callback) const = 0;
  virtual void Matches(std::string_view subject, unsigned options,
                       const MatchCallback& callback) const = 0;

  virtual std::shared_ptr<IStringCollection> Split(std::string_view subject) const = 0;
  virtual std::shared_ptr<IStringCollection> Split(std::string_view subject,
                                                   bool includeMatches) const = 0;
  virtual std::shared_ptr<IStringCollection> Split(std::string_view subject, bool includeMatches,
                                                   unsigned options) const = 0;

  virtual std::string Replace(std::string_view subject, std::string_view replacement) const = 0;
  virtual std::string Replace(std::string_view subject, const ReplaceCallback& callback) const = 0;
  virtual std::string Replace(std::string_view subject, std::string_view replacement,
                              unsigned options) const = 0;
  virtual std::string Replace(std::string_view subject, const ReplaceCallback& callback,
                              unsigned options) const = 0;

  virtual unsigned Options() const = 0;
  virtual std::string Pattern() const = 0;
};

// --- classes ----------------------------------------------------------------

// The character tables a pattern is compiled under. "C" with category 0 uses
// the library's built-in tables and owns nothing.
class TRegexLocale {
 public:
  TRegexLocale(std::string_view locale, int category);
  ~TRegexLocale();
  TRegexLocale(const TRegexLocale&) = delete;
  TRegexLocale& operator=(const TRegexLocale&) = delete;

  const unsigned char* Tables() const { return tables_; }
  bool OwnsTables() const { return owned_; }
  const std::string& Name() const { return name_; }

 private:
  const unsigned char* tables_ = nullptr;
  bool owned_ = false;
  std::string name_ = "C";
};

class TRegexMatch;

class TRegex : public IRegexInfo, public IRegex {
 public:
  TRegex(std::string_view pattern, unsigned options, std::string_view locale, int category);
  ~TRegex() override;
  TRegex(const TRegex&) = delete;
  TRegex& operator=(const TRegex&) = delete;

  // IRegexInfo
  size_t Size() const override;
  int CaptureCount() const override;
  int BackrefMax() const override;
  int FirstByte() const override;
  const unsigned char* FirstTable() const override;
  int LastLiteral() const override;
  std::string LocaleName() const override;
  unsigned Options() const override;
  std::string Pattern() const override;

  // IRegex
  bool IsMatch(std::string_view subject) const override;
  bool IsMatch(std::string_view subject, unsigned options) const override;
  bool IsMatch(std::string_view subject, int startOffset) const override;
  bool IsMatch(std::string_view subject, int startOffset, unsigned options) const override;

  std::shared_ptr<IMatch> Match(std::string_view subject) const override;
  std::shared_ptr<IMatch> Match(std::string_view subject, unsigned options) const override;
  std::shared_ptr<IMatch> Match(std::string_view subject, int startOffset) const override;
  std::shared_ptr<IMatch> Match(std::string_view subject, int startOffset,
                                unsigned options) const override;

  std::shared_ptr<IMatchCollection> Matches(std::string_view subject) const override;
  std::shared_ptr<IMatchCollection> Matches(std::string_view subject,
                                            unsigned options) const override;
  void Matches(std::string_view subject, const MatchCallback& callback) const override;
  void Matches(std::string_view subject, unsigned options,
               const MatchCallback& callback) const override;

  std::shared_ptr<IStringCollection> Split(std::string_view subject) const override;
  std::shared_ptr<IStringCollection> Split(std::string_view subject,
                                           bool includeMatches) const override;
  std::shared_ptr<IStringCollection> Split(std::string_view subject, bool includeMatches,
                                           unsigned options) const override;

  std::string Replace(std::string_view subject, std::string_view replacement) const override;
  std::string Replace(std::string_view subject, const ReplaceCallback& callback) const override;
  std::string Replace(std::string_view subject, std::string_view replacement,
                      unsigned options) const override;
  std::string Replace(std::string_view subject, const ReplaceCallback& callback,
                      unsigned options) const override;

 private:
  template <typename T>
  T Info(int what, T preset = T{}) const;
  // Runs the matcher into offsets (size a multiple of 3); false: no match.
  bool Exec(std::string_view subject, int startOffset, unsigned options, int* offsets,
            int count) const;
  std::shared_ptr<TRegexMatch> MatchAt(const std::shared_ptr<const std::string>& subject,
                                       int startOffset, unsigned options) const;
  void Release();
  // Calls visit for every match of the walk: from offset 0, each next search
  // starts at the larger of the match's end and the previous offset plus 1.
  void Walk(const std::shared_ptr<const std::string>& subject, unsigned options,
            const std::function<void(const std::shared_ptr<TRegexMatch>&)>& visit) const;

  std::string pattern_;
  unsigned options_;
  std::unique_ptr<TRegexLocale> locale_;
  void* code_ = nullptr;   // pcre*
  void* study_ = nullptr;  // pcre_extra*, may stay null
  int captureCount_ = 0;
};

// One match: a copy of the subject and the library's offsets vector, which is
// empty (no match, group count 0) or 3 x group count long; entries 2g and
// 2g + 1 are the start and end of group g, -1 for a group that did not take
// part; the last third is the library's work space.
class TRegexMatch : public ICaptureGroupCollection,
                    public IMatch,
                    public std::enable_shared_from_this<TRegexMatch> {
 public:
  // The matches of one walk share one copy of the subject.
  TRegexMatch(std::shared_ptr<const std::string> subject, int groupCount, std::vector<int> offsets);

  // The bounds of group g under the reading rules; -1, -1 when unset.
  void GroupBounds(int group, int& start, int& end) const;
  std::string GroupValue(int group) const;
  const std::string& Subject() const { return *subject_; }

  // ICaptureGroupCollection
  int Count() const override { return groupCount_; }
  std::shared_ptr<ICaptureGroup> Items(int index) const override;

  // IMatch (group 0)
  bool Success() const override;
  std::string Value() const override { return GroupValue(0); }
  int Index() const override;
  int Length() const override;
  std::shared_ptr<ICaptureGroupCollection> Groups() const override;

 private:
  std::shared_ptr<const std::string> subject_;
  int groupCount_;
  std::vector<int> offsets_;
};

// A group of a match. It keeps its match alive through a counted reference,
// so a group stays valid when the caller has let go of the match.
class TRegexCaptureGroup : public ICaptureGroup {
 public:
  TRegexCaptureGroup(std::shared_ptr<const TRegexMatch> match, int index);
  bool Success() const override;
  std::string Value() const override;
  int Index() const override;
  int Length() const override;

 private:
  std::shared_ptr<const TRegexMatch> match_;
  int index_;
};

class TRegexMatchCollection : public IMatchCollection {
 public:
  // A null match is a programming error (std::invalid_argument).
  void Add(std::shared_ptr<IMatch> match);
  int Count() const override { return static_cast<int>(items_.size()); }
  // Out of range: std::out_of_range.
  std::shared_ptr<IMatch> Items(int index) const override;

 private:
  std::vector<std::shared_ptr<IMatch>> items_;
};

class TRegexStringCollection : public IStringCollection {
 public:
  void Add(std::string text) { items_.push_back(std::move(text)); }
  int Count() const override { return static_cast<int>(items_.size()); }
  // Out of range: std::out_of_range.
  std::string Items(int index) const override;

 private:
  std::vector<std::string> items_;
};

// Expands the "$" references of a replacement text for one match.
class TSubstitute {
 public:
  explicit TSubstitute(std::shared_ptr<IMatch> match) : match_(std::move(match)) {}
  std::string Expand(std::string_view replacement) const;

 private:
  // The text for one reference found by the unit's "$" pattern.
  std::string Reference(const std::shared_ptr<IMatch>& reference) const;
  std::shared_ptr<IMatch> match_;
};

// Compiles pattern with the compile options under the given locale ("C" and 0:
// the built-in tables). Throws ERegexException (EBadRegexLocale for a locale
// that cannot be made current).
std::shared_ptr<IRegex> NewRegex(std::string_view pattern, unsigned options,
                                 std::string_view locale = "C", int category = 0);

}  // namespace brevan
