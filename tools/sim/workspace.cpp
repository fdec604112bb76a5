#include "workspace.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "input_error.h"
#include "json_positions.h"
#include "model/sample.h"

namespace sim {

using nlohmann::json;
using Answer = platform::MessageBoxes::Answer;

std::optional<Answer> answerNamed(const std::string& word) {
  if (word == "yes") return Answer::Yes;
  if (word == "no") return Answer::No;
  if (word == "cancel") return Answer::Cancel;
  return std::nullopt;
}

namespace {

std::optional<model::HostKind> hostKindNamed(const std::string& displayName) { return model::hostKindOf(displayName); }

// Reads the parsed document, pointing every complaint at the place in the file it is about.
class Reader {
 public:
  Reader(const std::string& text, std::string name) : name_(std::move(name)), text_(text) {
    offsets_ = valueOffsets(text_);
  }

  [[noreturn]] void fail(const std::string& pointer, const std::string& message) const {
    auto it = offsets_.find(pointer);
    auto pos = positionOf(text_, it == offsets_.end() ? 0 : it->second);
    throw InputError(name_ + ":" + std::to_string(pos.line) + ":" + std::to_string(pos.column) +
                     ": " + message);
  }

  // An object with only the listed fields; a misspelt field is an error, not a silent default.
  void object(const json& v, const std::string& ptr, const std::string& what,
              std::initializer_list<const char*> fields) const {
    if (!v.is_object()) fail(ptr, what + " must be an object {...}");
    for (auto& [key, value] : v.items()) {
      bool known = false;
      for (auto* f : fields) known = known || key == f;
      if (!known) {
        std::string list;
        for (auto* f : fields) list += std::string(list.empty() ? "" : ", ") + "\"" + f + "\"";
        fail(ptr + "/" + pointerToken(key) + "#key", "unknown field \"" + key + "\" in " + what + " (expected " + list + ")");
      }
    }
  }

  const json& require(const json& obj, const std::string& ptr, const std::string& what,
                      const char* field, const std::string& expected) const {
    if (!obj.contains(field))
      fail(ptr, what + " misses the field \"" + field + "\": expected " + expected);
    return obj.at(field);
  }

  std::string string(const json& v, const std::string& ptr, const std::string& expected) const {
    if (!v.is_string()) fail(ptr, "expected " + expected + ", found " + kindOf(v));
    return v.get<std::string>();
  }

  bool boolean(const json& v, const std::string& ptr, const std::string& expected) const {
    if (!v.is_boolean()) fail(ptr, "expected " + expected + ", found " + kindOf(v));
    return v.get<bool>();
  }

  int32_t integer(const json& v, const std::string& ptr, const std::string& expected) const {
    if (!v.is_number_integer() || v.get<int64_t>() < INT32_MIN || v.get<int64_t>() > INT32_MAX)
      fail(ptr, "expected " + expected + ", found " + kindOf(v));
    return static_cast<int32_t>(v.get<int64_t>());
  }

  const json& array(const json& v, const std::string& ptr, const std::string& expected) const {
    if (!v.is_array()) fail(ptr, "expected " + expected + ", found " + kindOf(v));
    return v;
  }

  static std::string kindOf(const json& v) {
    switch (v.type()) {
      case json::value_t::null: return "null";
      case json::value_t::boolean: return "a Boolean";
      case json::value_t::string: return "a string";
      case json::value_t::array: return "an array";
      case json::value_t::object: return "an object";
      case json::value_t::discarded: return "nothing";
      default: return "a number";
    }
  }

 private:
  std::string name_;
  const std::string& text_;
  std::map<std::string, size_t> offsets_;
};

std::string at(const std::string& ptr, const char* field) { return ptr + "/" + field; }
std::string at(const std::string& ptr, size_t i) { return ptr + "/" + std::to_string(i); }

const json* optional(const json& obj, const char* field) {
  return obj.contains(field) ? &obj.at(field) : nullptr;
}

int32_t componentType(const Reader& r, const json& v, const std::string& ptr) {
  const std::string expected =
      "\"standard\", \"class\", \"form\", \"document\" or a component type number";
  if (v.is_number_integer()) return r.integer(v, ptr, expected);
  auto s = r.string(v, ptr, expected);
  if (s == "standard") return 1;
  if (s == "class") return 2;
  if (s == "form") return 3;
  if (s == "document") return 100;
  r.fail(ptr, "unknown component type \"" + s + "\": expected " + expected);
}

int32_t protection(const Reader& r, const json& v, const std::string& ptr) {
  const std::string expected = "\"none\", \"locked\" or a protection number";
  if (v.is_number_integer()) return r.integer(v, ptr, expected);
  auto s = r.string(v, ptr, expected);
  if (s == "none") return 0;
  if (s == "locked") return 1;
  r.fail(ptr, "unknown protection \"" + s + "\": expected " + expected);
}

void readEditorOptions(const Reader& r, const json& v, const std::string& ptr, model::EditorBuilder& b) {
  r.object(v, ptr, "\"editor\"",
           {"language", "toolsBar", "referencesControl", "hostNameControl", "fileBar", "leftoverBar"});
  if (auto* l = optional(v, "language")) {
    auto language = r.string(*l, at(ptr, "language"), "\"en\" or \"de\"");
    if (!model::captionsFor(language)) r.fail(at(ptr, "language"), "unknown language \"" + language + "\": expected \"en\" or \"de\"");
    b.language(language);
  }
  auto flag = [&](const char* field, bool byDefault) {
    const json* f = optional(v, field);
    return f ? r.boolean(*f, at(ptr, field), "true or false") : byDefault;
  };
  if (!flag("toolsBar", true)) b.withoutToolsBar();
  if (!flag("referencesControl", true)) b.withoutReferencesControl();
  if (!flag("hostNameControl", true)) b.withoutHostNameControl();
  if (!flag("fileBar", true)) b.withoutFileBar();
  if (flag("leftoverBar", false)) b.leftoverBar();
}

void readProject(const Reader& r, const json& v, const std::string& ptr, model::EditorBuilder& b,
                 std::set<std::string>& names) {
  r.object(v, ptr, "a project", {"name", "file", "folder", "saved", "protection", "components", "references"});
  auto name = r.string(r.require(v, ptr, "a project", "name", "the project's name"), at(ptr, "name"),
                       "the project's name (a string)");
  const std::string what = "project \"" + name + "\"";
  if (!names.insert(name).second) r.fail(at(ptr, "name"), "a second project named \"" + name + "\"");
  auto file = r.string(r.require(v, ptr, what, "file", "the name of the file that holds the project (a string)"),
                       at(ptr, "file"), "the file name (a string)");
  int32_t prot = 0;
  if (auto* p = optional(v, "protection")) prot = protection(r, *p, at(ptr, "protection"));
  b.project(name, file, prot);
  if (auto* f = optional(v, "folder")) b.savedIn(r.string(*f, at(ptr, "folder"), "the file's folder (a string)"));
  if (auto* sv = optional(v, "saved"); sv && !r.boolean(*sv, at(ptr, "saved"), "true or false")) b.unsaved();

  if (auto* cs = optional(v, "components")) {
    std::string cptr = at(ptr, "components");
    r.array(*cs, cptr, "an array of components");
    for (size_t i = 0; i < cs->size(); ++i) {
      const json& c = (*cs)[i];
      std::string p = at(cptr, i);
      r.object(c, p, "a component", {"name", "type", "designer"});
      auto cname = r.string(r.require(c, p, "a component of " + what, "name", "the component's name (a string)"),
                            at(p, "name"), "the component's name (a string)");
      auto type = componentType(r, r.require(c, p, "component \"" + cname + "\"", "type",
                                             "\"standard\", \"class\", \"form\" or \"document\""),
                                at(p, "type"));
      bool designerOpen = false;
      if (auto* d = optional(c, "designer")) {
        auto s = r.string(*d, at(p, "designer"), "\"open\" or \"closed\"");
        if (s != "open" && s != "closed") r.fail(at(p, "designer"), "expected \"open\" or \"closed\", found \"" + s + "\"");
        if (type != 3) r.fail(at(p, "designer"), "only a form (type \"form\") has a designer");
        designerOpen = s == "open";
      }
      b.component(cname, type, designerOpen);
    }
  }

  if (auto* rs = optional(v, "references")) {
    std::string rptr = at(ptr, "references");
    r.array(*rs, rptr, "an array of references");
    for (size_t i = 0; i < rs->size(); ++i) {
      const json& ref = (*rs)[i];
      std::string p = at(rptr, i);
      r.object(ref, p, "a reference", {"name", "description", "path", "builtIn", "broken", "unreadable"});
      auto rname = r.string(r.require(ref, p, "a reference of " + what, "name", "the reference's name (a string)"),
                            at(p, "name"), "the reference's name (a string)");
      const std::string rwhat = "reference \"" + rname + "\"";
      auto path = r.string(r.require(ref, p, rwhat, "path", "the file path of the library (a string)"),
                           at(p, "path"), "the file path (a string)");
      std::string description;
      if (auto* d = optional(ref, "description")) description = r.string(*d, at(p, "description"), "a string");
      bool builtIn = false, broken = false;
      if (auto* f = optional(ref, "builtIn")) builtIn = r.boolean(*f, at(p, "builtIn"), "true or false");
      if (auto* f = optional(ref, "broken")) broken = r.boolean(*f, at(p, "broken"), "true or false");
      std::vector<std::string> unreadable;
      if (auto* u = optional(ref, "unreadable")) {
        const std::string expected = "an array of member names (\"Name\", \"Description\", \"BuiltIn\", \"IsBroken\", \"FullPath\")";
        r.array(*u, at(p, "unreadable"), expected);
        for (size_t k = 0; k < u->size(); ++k) {
          auto m = r.string((*u)[k], at(at(p, "unreadable"), k), expected);
          if (m != "Name" && m != "Description" && m != "BuiltIn" && m != "IsBroken" && m != "FullPath")
            r.fail(at(at(p, "unreadable"), k), "unknown member \"" + m + "\": expected " + expected);
          unreadable.push_back(m);
        }
      }
      b.reference(rname, description, path, builtIn, broken, std::move(unreadable));
    }
  }
}

// The editor's document components lead to the host, whose calls go to the host's own log.
void linkDocumentsToHost(Workspace& ws) { ws.editor.world().documentHost = ws.hostLog.world().documentHost; }

void readHostApplication(const Reader& r, const json& v, const std::string& ptr, Workspace& ws,
                         model::HostKind kind) {
  model::HostBuilder hb(ws.hostLog, kind);
  if (auto* f = optional(v, "running"); f && !r.boolean(*f, at(ptr, "running"), "true or false")) hb.notRunning();
  bool anotherInTable = false;
  if (auto* f = optional(v, "table")) {
    const std::string expected = "\"own\", \"empty\" or \"another process\"";
    auto holds = r.string(*f, at(ptr, "table"), expected);
    if (holds == "empty" || holds == "another process") hb.notInTable();
    else if (holds != "own") r.fail(at(ptr, "table"), "expected " + expected + ", found \"" + holds + "\"");
    anotherInTable = holds == "another process";
  }
  if (auto* f = optional(v, "visible"); f && !r.boolean(*f, at(ptr, "visible"), "true or false")) hb.hidden();
  if (auto* f = optional(v, "openCommand"); f && !r.boolean(*f, at(ptr, "openCommand"), "true or false"))
    hb.withoutOpenCommand();
  if (auto* fs = optional(v, "files")) {
    std::string fptr = at(ptr, "files");
    const std::string expected = "a file name or {\"name\", \"saved\", \"closeFails\"}";
    r.array(*fs, fptr, "an array of open files");
    for (size_t i = 0; i < fs->size(); ++i) {
      const json& f = (*fs)[i];
      std::string p = at(fptr, i);
      if (f.is_string()) {
        hb.file(f.get<std::string>());
        continue;
      }
      if (!f.is_object()) r.fail(p, "expected " + expected + ", found " + Reader::kindOf(f));
      r.object(f, p, "an open file", {"name", "saved", "closeFails"});
      auto name = r.string(r.require(f, p, "an open file", "name", "the file's name (a string)"), at(p, "name"),
                           "the file's name (a string)");
      bool saved = true;
      if (auto* s = optional(f, "saved")) saved = r.boolean(*s, at(p, "saved"), "true or false");
      hb.file(name, saved);
      if (auto* c = optional(f, "closeFails"); c && r.boolean(*c, at(p, "closeFails"), "true or false"))
        hb.fileCloseFails(name);
    }
  }
  if (auto* a = optional(v, "activeDocument")) {
    if (kind != model::HostKind::Word) r.fail(at(ptr, "activeDocument"), "only Microsoft Word has an active document here");
    hb.activeDocument(r.string(*a, at(ptr, "activeDocument"), "the active document's name (a string)"));
  }
  if (auto* as = optional(v, "addIns")) {
    if (kind != model::HostKind::Word) r.fail(at(ptr, "addIns"), "only Microsoft Word has add-ins here");
    std::string aptr = at(ptr, "addIns");
    r.array(*as, aptr, "an array of add-ins");
    for (size_t i = 0; i < as->size(); ++i) {
      const json& a = (*as)[i];
      std::string p = at(aptr, i);
      if (a.is_string()) {
        hb.addIn(a.get<std::string>());
        continue;
      }
      r.object(a, p, "an add-in", {"name", "installed"});
      auto name = r.string(r.require(a, p, "an add-in", "name", "the add-in's name (a string)"), at(p, "name"),
                           "the add-in's name (a string)");
      bool installed = true;
      if (auto* s = optional(a, "installed")) installed = r.boolean(*s, at(p, "installed"), "true or false");
      hb.addIn(name, installed);
    }
  }
  ws.host = hb.build();
  if (anotherInTable) {
    model::HostBuilder other(ws.hostLog, kind);
    for (const auto& f : ws.host->state().files) other.file(f.name);
    ws.otherHost = other.inAnotherProcess().build();
  }
}

}  // namespace

Workspace parseWorkspace(const std::string& text, const std::string& name) {
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::parse_error& e) {
    // e.byte counts the bytes read, the offending one included.
    auto pos = positionOf(text, e.byte == 0 ? 0 : e.byte - 1);
    std::string what = e.what();
    // Keep nlohmann's explanation, without its own prefix and position.
    if (auto colon = what.find(": "); colon != std::string::npos) what = what.substr(colon + 2);
    throw InputError(name + ":" + std::to_string(pos.line) + ":" + std::to_string(pos.column) +
                     ": not valid JSON: " + what);
  } catch (const json::out_of_range& e) {
    // A number too large for a double ("1e999"): nlohmann names the number but not its place.
    std::string what = e.what();
    if (auto colon = what.find("] "); colon != std::string::npos) what = what.substr(colon + 2);
    size_t at = 0;
    if (auto open = what.find('\''), close = what.rfind('\''); open != std::string::npos && close > open)
      at = std::min(text.find(what.substr(open + 1, close - open - 1)), text.size());
    auto pos = positionOf(text, at);
    throw InputError(name + ":" + std::to_string(pos.line) + ":" + std::to_string(pos.column) +
                     ": not valid JSON: " + what);
  }
  Reader r(text, name);
  r.object(doc, "", "the workspace",
           {"title", "editor", "host", "projects", "active", "answers", "log"});

  Workspace ws;
  ws.title = name;
  if (auto* t = optional(doc, "title")) ws.title = r.string(*t, "/title", "a string");

  const json& host = r.require(doc, "", "the workspace", "host", "{\"name\": the host's display name, ...}");
  r.object(host, "/host", "\"host\"",
           {"name", "running", "table", "visible", "openCommand", "files", "activeDocument", "addIns"});
  auto hostName = r.string(r.require(host, "/host", "\"host\"", "name", "the host's display name, such as \"Microsoft Excel\""),
                           "/host/name", "the host's display name (a string)");
  auto kind = hostKindNamed(hostName);
  if (!kind && host.size() > 1)
    r.fail("/host", "\"" + hostName + "\" is not Microsoft Excel, Microsoft Word, Microsoft Access (or "
                    "Microsoft Office Access) or Microsoft PowerPoint, so it has no application to describe: give only its \"name\"");

  model::EditorBuilder b;
  b.host(hostName);
  if (auto* e = optional(doc, "editor")) readEditorOptions(r, *e, "/editor", b);

  const json& projects = r.array(r.require(doc, "", "the workspace", "projects", "an array of projects"),
                                 "/projects", "an array of projects");
  std::set<std::string> names;
  for (size_t i = 0; i < projects.size(); ++i) readProject(r, projects[i], at("/projects", i), b, names);

  bool noActive = false;
  if (auto* a = optional(doc, "active")) {
    if (a->is_null()) {
      noActive = true;
    } else {
      auto active = r.string(*a, "/active", "the name of a project, or null");
      if (!names.count(active)) r.fail("/active", "no project is named \"" + active + "\"");
      b.active(active);
    }
  }
  if (auto* as = optional(doc, "answers")) {
    r.array(*as, "/answers", "an array of \"yes\", \"no\" or \"cancel\"");
    for (size_t i = 0; i < as->size(); ++i) {
      auto word = r.string((*as)[i], at("/answers", i), "\"yes\", \"no\" or \"cancel\"");
      auto answer = answerNamed(word);
      if (!answer) r.fail(at("/answers", i), "expected \"yes\", \"no\" or \"cancel\", found \"" + word + "\"");
      ws.answers.push_back(*answer);
    }
  }

  if (auto* l = optional(doc, "log")) {
    if (!l->is_boolean()) r.fail("/log", "expected true or false");
    ws.log = l->get<bool>();
  }

  ws.editor = b.build();
  if (noActive) ws.editor.world().activeProject = nullptr;
  if (kind) readHostApplication(r, host, "/host", ws, *kind);
  linkDocumentsToHost(ws);
  return ws;
}

Workspace loadWorkspace(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path + ": cannot read the workspace file");
  std::ostringstream text;
  text << in.rdbuf();
  return parseWorkspace(text.str(), path);
}

Workspace sampleWorkspace() {
  Workspace ws;
  ws.title = "the sample workspace";
  ws.editor = model::sampleWorkspace();
  ws.host = model::HostBuilder(ws.hostLog, model::HostKind::Excel)
                .file("Budget.xlsm")
                .file("LockedTools.xlam")
                .build();
  linkDocumentsToHost(ws);
  return ws;
}

}  // namespace sim
