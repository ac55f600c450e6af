// The preview pane with one very long line: the longest stretch without
// serviced events and the whole time until the text is in and painted, for
// the session window's pane next to a bare text pane that takes the text in
// one go (the same widget class, default wrapping).
// Usage: preview_bench [[u]kilobytes...] (default 16 64 256 u16 u64 u256; a
// "u" line has no blank to wrap at; the bare pane is skipped above 1024 KB
// of words and 256 KB unbroken, where it takes minutes). Not run by the test
// suite.
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>

#include "session/TForm1.h"

using namespace brevan;

namespace {

struct Figures {
  qint64 longestGapMs = 0;
  qint64 totalMs = 0;
};

// Runs show, then paints the pane at the top and halfway down, with a 1 ms
// timer recording the gaps between serviced events.
Figures Measure(QPlainTextEdit* pane, const std::function<void()>& show) {
  QElapsedTimer clock;
  clock.start();
  qint64 last = 0;
  Figures f;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    f.longestGapMs = std::max(f.longestGapMs, now - last);
    last = now;
  });
  probe.start(1);
  show();
  pane->viewport()->repaint();
  QCoreApplication::processEvents();
  pane->verticalScrollBar()->setValue(pane->verticalScrollBar()->maximum() / 2);
  pane->viewport()->repaint();
  QCoreApplication::processEvents();
  probe.stop();
  f.longestGapMs = std::max(f.longestGapMs, clock.elapsed() - last);
  f.totalMs = clock.elapsed();
  return f;
}

// A line of words, or (unbroken) one without a single place to wrap at.
QString LongLineText(int kilobytes, bool unbroken) {
  QString line(kilobytes * 1024, 'a');
  if (!unbroken)
    for (qsizetype i = 0; i < line.size(); i += 97) line[i] = ' ';
  return "Subject: long\n\n" + line + "\nlast";
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  std::vector<std::pair<int, bool>> sizes;
  for (int i = 1; i < argc; ++i) {
    const bool unbroken = argv[i][0] == 'u';
    sizes.emplace_back(std::atoi(argv[i] + (unbroken ? 1 : 0)), unbroken);
  }
  if (sizes.empty()) sizes = {{16, false}, {64, false}, {256, false}, {16, true}, {64, true}, {256, true}};

  std::printf("%11s %14s %14s %14s %14s %10s\n", "line KB", "ours gap ms", "bare gap ms", "ours total ms",
              "bare total ms", "gap ratio");
  for (const auto& [kb, unbroken] : sizes) {
    const QString text = LongLineText(kb, unbroken);
    char label[32];
    std::snprintf(label, sizeof label, "%s%d", unbroken ? "u" : "", kb);
    TForm1 window;
    window.resize(800, 560);
    window.show();
    QCoreApplication::processEvents();
    const Figures ours = Measure(window.Memo1, [&] { window.ShowPreviewText(text); });

    Figures bare{-1, -1};
    if (kb <= (unbroken ? 256 : 1024)) {
      QPlainTextEdit pane;
      pane.resize(window.Memo1->size());
      pane.setReadOnly(true);
      pane.show();
      QCoreApplication::processEvents();
      bare = Measure(&pane, [&] { pane.setPlainText(text); });
    }
    if (bare.longestGapMs > 0) {
      std::printf("%11s %14lld %14lld %14lld %14lld %10.3f\n", label, ours.longestGapMs, bare.longestGapMs, ours.totalMs,
                  bare.totalMs, static_cast<double>(ours.longestGapMs) / static_cast<double>(bare.longestGapMs));
    } else {
      std::printf("%11s %14lld %14s %14lld %14s %10s\n", label, ours.longestGapMs, "-", ours.totalMs, "-", "-");
    }
  }
  return 0;
}
