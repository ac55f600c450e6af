#pragma once
// What a session window asks of the learned judgement, without the window:
// the program's one store, the mark of a listed row, and the lessons taken
// from what the user does (deleting, ticking and unticking, downloading and
// opening, the list's menu, a folder of saved messages).
#include <string>
#include <string_view>
#include <vector>

#include "filter/filter_rules.h"
#include "learn/learned_store.h"
#include "learn/row_mark.h"

namespace brevan {

// The store in appFolder (ending in "/"), opened on first use and shared by
// every window of the program; a different folder (a test's) opens its own.
// Never null; its OpenState may say it is unusable.
LearnedStore& SessionLearnedStore(const std::string& appFolder);
// The same store for judging only: null while no store file exists yet (a
// store that has learned nothing keeps silent anyway), so judging a listing
// never creates one.
LearnedStore* SessionJudgingStore(const std::string& appFolder);
// Closes it (tests; a program at its end).
void CloseSessionLearnedStore();
// The store's problem, in the code page, the first time it is asked for in
// this run; empty afterwards and when there is none.
std::string TakeLearnedStoreProblem(LearnedStore& store);

// The header block of a "top n 0" reply's lines as received: doubled leading
// dots undone (RFC 1939 section 3), lines joined with CR LF, ending at the
// first empty line, at most kMaxHeaderBytes.
std::string ListedHeaderBlock(const std::vector<std::string>& lines);

// The mark of a listed row: its subject judged by the rules and the
// disguised-word test, and its header block by the store (none: the
// learned verdict is off).
RowMark MarkListedRow(LearnedStore* store, const std::vector<std::string>& rules, std::string_view subject,
                      const JunkVerdict& subjectVerdict, std::string_view headerBlock);

// One lesson per header block (empty blocks are skipped), keyed by
// MessageKey without a UIDL. -1 when the store could not learn.
int LearnHeaderBlocks(LearnedStore& store, const std::vector<std::string>& headerBlocks, bool junk);
int ForgetHeaderBlocks(LearnedStore& store, const std::vector<std::string>& headerBlocks, bool junk);

// Reads the header block of a message file: only up to its first empty line,
// at most kMaxHeaderBytes, however large the file. False when it cannot be read.
bool ReadHeaderBlock(const std::string& path, std::string& headerBlock);

// Learns every ".eml" file of a folder (not its subfolders) in one batch.
// Returns how many files were read (unreadable ones are skipped), or -1 when
// the folder cannot be listed or the store cannot learn.
int LearnMessageFolder(LearnedStore& store, const std::string& folder, bool junk);

}  // namespace brevan
