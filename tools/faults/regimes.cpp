#include "regimes.h"

#include <stdexcept>

namespace faults {

namespace {

using Calls = std::vector<model::Call>;

bool is(const model::Call& c, const char* target, const char* member) {
  return c.target == target && automation::sameName(c.member, member);
}

bool isPut(const model::Call& c, const char* target, const char* member, const automation::Value& v) {
  return is(c, target, member) && c.kind == automation::Invoke::Put && !c.args.empty() && c.args[0] == v;
}

[[noreturn]] void unexpected(const std::string& what) {
  throw std::logic_error("clean run has an unexpected shape: " + what);
}

// Index of the first call at or after `from` matching the predicate.
template <class P>
size_t find(const Calls& calls, size_t from, P&& p, const char* what) {
  for (size_t i = from; i < calls.size(); ++i)
    if (p(calls[i])) return i;
  unexpected(what);
}

void mark(std::vector<Expectation>& out, size_t from, size_t to, Regime r) {
  for (size_t i = from; i < to && i < out.size(); ++i) out[i].regime = r;
}

// getwbname: CommandBars, Item("File"), FindControl(3), Caption from `from`; returns the end.
size_t fileNameLookup(const Calls& calls, size_t from, std::vector<Expectation>& out) {
  if (from >= calls.size() || !is(calls[from], "VBE", "CommandBars")) unexpected("file name lookup");
  size_t end = find(calls, from, [](auto& c) { return is(c, "CommandBarControl", "Caption"); }, "file name caption") + 1;
  mark(out, from, end, Regime::FixedResult);
  return end;
}

// The reference report from its first call to the end of the log: steps 1 to 3 unguarded (the
// file name aside), every later step guarded, a failed detail line answered by a missing line.
void reflist(const Calls& calls, size_t from, int cleanMissing, std::vector<Expectation>& out) {
  mark(out, from, from + 3, Regime::Reported);  // Windows, Item("immediate"), SetFocus
  size_t i = fileNameLookup(calls, from + 3, out);
  mark(out, i, i + 5, Regime::Reported);  // ActiveVBProject, Name, ActiveVBProject, References, Count
  i += 5;
  for (size_t k = i; k < calls.size(); ++k) out[k] = {Regime::Absorbed, cleanMissing};

  // No enumeration at all: the loop body runs once for a reference that cannot be read.
  size_t newEnum = find(calls, i, [](auto& c) { return is(c, "References", "_NewEnum"); }, "references enumeration");
  for (size_t k = i; k <= newEnum; ++k) out[k].missingLines = 1;

  int missingBefore = 0;
  size_t k = newEnum + 1;
  while (k < calls.size() && is(calls[k], "References", "Next")) {
    out[k].missingLines = missingBefore;  // moving on fails: the loop ends here
    size_t end = k + 1;
    while (end < calls.size() && calls[end].target == "Reference") ++end;
    bool detailRead = false;
    for (size_t j = k + 1; j < end; ++j) detailRead = detailRead || is(calls[j], "Reference", "IsBroken");
    for (size_t j = k + 1; j < end; ++j)
      if (!is(calls[j], "Reference", "FullPath") && detailRead) out[j].missingLines = cleanMissing + 1;
    missingBefore += (end > k + 1 && !detailRead) ? 1 : 0;
    k = end;
  }
}

void connection(const Calls& calls, std::vector<Expectation>& out) {
  mark(out, 0, calls.size(), Regime::Reported);
  // Deleting an older bar: everything before the second CommandBars.
  size_t seen = 0;
  for (size_t i = 0; i < calls.size(); ++i)
    if (is(calls[i], "VBE", "CommandBars") && ++seen == 2) {
      mark(out, 0, i, Regime::Absorbed);
      break;
    }
  // The References hook: from the CommandBars that leads to "Tools" to the next CommandBars.
  size_t tools = find(calls, 1, [](auto& c) { return is(c, "CommandBars", "Item") && c.args.at(0) == automation::Value("Tools"); },
                      "Tools bar lookup");
  size_t end = find(calls, tools, [](auto& c) { return is(c, "VBE", "CommandBars"); }, "tooltips");
  mark(out, tools - 1, end, Regime::Absorbed);
}

// The window actions: unguarded up to hiding the main window, then the loop, then the restore
// steps (MainWindow, Visible = True, ActiveVBProject :=), which are retried once.
void windowActions(const Calls& calls, size_t hide, std::vector<Expectation>& out) {
  if (calls.size() < hide + 4) unexpected("window loop");
  mark(out, 0, hide + 1, Regime::Reported);
  size_t restore = calls.size() - 3;
  if (!is(calls[restore], "VBE", "MainWindow") || !is(calls.back(), "VBE", "ActiveVBProject"))
    unexpected("restore steps");
  mark(out, hide + 1, restore, Regime::LoopStopped);
  mark(out, restore, calls.size(), Regime::Restored);
}

size_t hiding(const Calls& calls) {
  return find(calls, 0, [](auto& c) { return isPut(c, "Window", "Visible", automation::Value::boolean(false)); },
              "hiding the main window");
}

void activeProject(const Calls& calls, int cleanMissing, std::vector<Expectation>& out) {
  size_t protection = find(calls, 0, [](auto& c) { return is(c, "VBProject", "Protection"); }, "protection");
  if (protection + 1 == calls.size()) {  // locked, closing: nothing after the test
    mark(out, 0, calls.size(), Regime::Reported);
    return;
  }
  if (is(calls[protection + 1], "VBE", "Windows")) {  // locked, opening: notice, then the report
    mark(out, 0, protection + 4, Regime::Reported);
    size_t report = fileNameLookup(calls, protection + 4, out);
    reflist(calls, report, cleanMissing, out);
    return;
  }
  windowActions(calls, hiding(calls), out);
}

// Excel and Word look for their host through the editor first (projects, document components and
// their Properties); a failure there only sends the command on to the Running Object Table.
// Returns the end of that walk, which starts at `from`.
size_t hostWalk(const Calls& calls, size_t from, std::vector<Expectation>& out) {
  size_t end = from;
  auto walking = [](const model::Call& c) {
    return is(c, "VBE", "ActiveVBProject") || is(c, "VBE", "VBProjects") || c.target == "VBProject" ||
           c.target == "VBProjects" || c.target == "VBComponents" || c.target == "VBComponent" ||
           c.target == "Properties" || c.target == "Property";
  };
  while (end < calls.size() && walking(calls[end])) ++end;
  mark(out, from, end, Regime::Absorbed);
  return end;
}

bool isLookup(const Calls& calls, size_t i) { return i < calls.size() && calls[i].target == "RunningObjectTable"; }

void button(const Command& command, const Calls& calls, int cleanMissing, std::vector<Expectation>& out) {
  switch (command.button) {
    case 1:
    case 2: activeProject(calls, cleanMissing, out); break;
    case 3:
    case 4: windowActions(calls, hiding(calls), out); break;
    case 5: {
      size_t name = find(calls, 0, [](auto& c) { return is(c, "CommandBarControl", "Caption"); }, "host name") + 1;
      mark(out, 0, name, Regime::RecoveryFails);
      size_t i = hostWalk(calls, name, out);
      if (isLookup(calls, i)) {
        mark(out, i, i + 1, Regime::RecoveryFails);
        ++i;
      } else if (i == name) unexpected("host lookup");
      mark(out, i, calls.size(), Regime::Recovered);
      break;
    }
    case 6: {
      mark(out, 0, 3, Regime::Reported);  // Index, VBProjects, Count
      size_t i = fileNameLookup(calls, 3, out);
      mark(out, i, i + 3, Regime::Reported);  // the host's name
      size_t walked = hostWalk(calls, i + 3, out);
      if (isLookup(calls, walked)) {
        mark(out, walked, walked + 1, Regime::Reported);
        ++walked;
      } else if (walked == i + 3) unexpected("host lookup");
      mark(out, walked, calls.size(), Regime::Absorbed);
      break;
    }
    default: unexpected("button " + std::to_string(command.button));
  }
  // Reading the clicked control's Index comes first and is never guarded.
  if (calls.empty() || !is(calls[0], "CommandBarControl", "Index")) unexpected("button index");
  out[0] = {Regime::Reported, std::nullopt};
}

}  // namespace

const char* nameOf(Regime r) {
  switch (r) {
    case Regime::Reported: return "reported";
    case Regime::Absorbed: return "absorbed";
    case Regime::FixedResult: return "empty file name";
    case Regime::LoopStopped: return "loop stopped, restored";
    case Regime::Restored: return "restore retried";
    case Regime::Recovered: return "recovered";
    case Regime::RecoveryFails: return "recovery fails";
    case Regime::Skipped: return "skipped";
    case Regime::FoundByType: return "found by type";
  }
  return "?";
}

std::vector<Expectation> expectations(const Command& command, const CleanRun& clean) {
  const auto& calls = clean.calls;
  std::vector<Expectation> out(calls.size());
  switch (command.kind) {
    case CommandKind::Connection: connection(calls, out); break;
    case CommandKind::Disconnection: mark(out, 0, calls.size(), Regime::Skipped); break;
    case CommandKind::Button: {
      // Where Office's button events reach every button of the same Id and Tag, the sink first
      // reads whether the clicked control is its own button of this bar: unguarded, like Index.
      size_t own = 0;
      while (own < calls.size() && (is(calls[own], "CommandBarControl", "Tag") ||
                                    is(calls[own], "CommandBarControl", "Parent") || is(calls[own], "CommandBar", "Name")))
        ++own;
      Calls rest(calls.begin() + static_cast<std::ptrdiff_t>(own), calls.end());
      std::vector<Expectation> tail(rest.size());
      button(command, rest, clean.missingLines, tail);
      mark(out, 0, own, Regime::Reported);
      std::copy(tail.begin(), tail.end(), out.begin() + static_cast<std::ptrdiff_t>(own));
      break;
    }
    case CommandKind::References:
      mark(out, 0, 3, Regime::Reported);  // Windows, Item("Object Browser"), Visible
      reflist(calls, 3, clean.missingLines, out);
      break;
  }
  // Windows.Item by name has a second way, the walk over Windows by type, which a single failure
  // leaves open.
  for (size_t i = 0; i < calls.size(); ++i)
    if (is(calls[i], "Windows", "Item") && out[i].regime == Regime::Reported) out[i].regime = Regime::FoundByType;
  return out;
}

}  // namespace faults
