// PrintServer's printer map, print jobs and options, over a fake printer list and an engine that
// records what the jobs ask of it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "base/exception_testing.h"
#include "codec/base64.h"
#include "platform/codepage.h"
#include "platform/env.h"
#include "print/print_server.h"

namespace zentrak {
namespace {

namespace fs = std::filesystem;

// Installed printers and the default as a test sets them; counts the reads and the writes.
class FakePrinters : public platform::Printers {
 public:
  std::vector<std::string> installed;
  std::string default_printer;
  int list_reads = 0;
  std::vector<std::string> defaults_written;

  std::vector<std::string> Installed() override {
    ++list_reads;
    return installed;
  }
  std::string Default() override { return default_printer; }
  bool SetDefault(const std::string& name, std::string&) override {
    defaults_written.push_back(name);
    default_printer = name;
    return true;
  }
};

// Records every call as text: "open 4", "PrinterRangeMode 0", "print plain on P1", "close".
class RecordingEngine : public PdfEngine, public IPDFPrinter {
 public:
  RecordingEngine(std::vector<std::string>& log, PrintDestination destination, bool has_printer, bool print_fails)
      : log_(log), destination_(std::move(destination)), has_printer_(has_printer), print_fails_(print_fails) {}

  bool OpenDocumentMemory(std::string_view bytes, std::string_view) override {
    log_.push_back("open " + std::string(bytes));
    return true;
  }
  bool OpenDocumentFile(const std::string& path, std::string_view) override {
    log_.push_back("open file " + path);
    return true;
  }
  void CloseDocument() override { log_.push_back("close"); }
  int PageCount() const override { return 1; }
  IPDFPrinter* Printer() override { return has_printer_ ? this : nullptr; }
  void DisplaySwitch19(bool on) override { Log("DisplaySwitch19", on); }
  void DisplaySwitch49(bool on) override { Log("DisplaySwitch49", on); }

  void PutPrinterRangeMode(int32_t v) override { Log("PrinterRangeMode", v); }
  void PutPrinterRangeFrom(int16_t v) override { Log("PrinterRangeFrom", v); }
  void PutPrinterRangeTo(int16_t v) override { Log("PrinterRangeTo", v); }
  void PutNumOfCopies(int16_t v) override { Log("NumOfCopies", v); }
  void PutScaling(int16_t v) override { Log("Scaling", v); }
  void PutAutoRotate(bool v) override { Log("AutoRotate", v); }
  void PutAutoCenter(bool v) override { Log("AutoCenter", v); }
  void PrintDocument() override { Print("print"); }
  void PrintDocumentPlain() override { Print("print plain"); }

 private:
  void Log(const char* name, int32_t value) { log_.push_back(std::string(name) + " " + std::to_string(value)); }
  void Print(const std::string& what) {
    std::string printer = destination_();
    if (print_fails_) throw Exception("the printer is on fire");
    log_.push_back(what + " on " + printer);
  }

  std::vector<std::string>& log_;
  PrintDestination destination_;
  bool has_printer_;
  bool print_fails_;
};

// The preview window as a test drives it: RunModal runs the test's user, who may type into the
// printer list, press the button and close the window through the form's handlers.
class ScriptedPreview : public PreviewView {
 public:
  struct Record {
    std::vector<std::string> items;
    int32_t selected = -2;
    std::string text = "Printers";
    std::string document;
    std::vector<std::string> errors;
    bool destroyed = false;
  };
  using User = std::function<void(ScriptedPreview&)>;

  ScriptedPreview(PreviewHandlers handlers, Record& record, User user)
      : handlers_(std::move(handlers)), record_(record), user_(std::move(user)) {}
  ~ScriptedPreview() override { record_.destroyed = true; }

  void SetPrinterChoices(const std::vector<std::string>& items, int32_t selected) override {
    record_.items = items;
    record_.selected = selected;
    if (selected >= 0) record_.text = items[static_cast<size_t>(selected)];
  }
  std::string PrinterText() override { return record_.text; }
  void ShowDocument(const std::string& file) override { record_.document = file; }
  void RunModal() override {
    if (user_) user_(*this);
    handlers_.closed();
  }
  void ShowError(const std::string& text) override { record_.errors.push_back(text); }

  void Type(const std::string& text) { record_.text = text; }
  void Click() { handlers_.print_clicked(); }

 private:
  PreviewHandlers handlers_;
  Record& record_;
  User user_;
};

class PrintJobsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("zentrak-print-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "profile");
    setenv("USERPROFILE", (root_ / "profile").c_str(), 1);
    printers_.installed = {"Office", "Label-Writer", "Plotter"};
    printers_.default_printer = "office";
  }
  void TearDown() override {
    unsetenv("USERPROFILE");
    fs::remove_all(root_);
  }

  std::unique_ptr<TPrintServer> MakeServer() {
    auto server = std::make_unique<TPrintServer>(
        state_,
        [this](PrintDestination destination) {
          return std::make_unique<RecordingEngine>(log_, std::move(destination), has_printer_, print_fails_);
        },
        [this](PreviewHandlers handlers) -> std::unique_ptr<PreviewView> {
          if (!preview_error_.empty()) throw Exception(preview_error_);
          return std::make_unique<ScriptedPreview>(std::move(handlers), preview_, user_);
        });
    Variant ok;
    server->setDBName(Variant(u"print"), Variant(), ok);
    EXPECT_TRUE(ok.BoolValue());
    return server;
  }

  // Maps virtual names (UTF-8 SQL) through the same file, as a page does through LocalDB.
  void Map(const std::string& values) {
    TSQLiteDatabase((root_ / "profile" / "Zentrak" / "print.db").string())
        .RunStatement(platform::Utf8ToAnsi("insert into Printers values " + values));
  }

  static Variant Doc(const std::string& bytes) { return Variant(platform::AnsiToWide(EncodeBase64(bytes))); }

  fs::path root_;
  FakePrinters printers_;
  PrinterState state_{printers_};
  std::vector<std::string> log_;
  bool has_printer_ = true;
  bool print_fails_ = false;
  ScriptedPreview::Record preview_;
  ScriptedPreview::User user_;
  std::string preview_error_;  // the window cannot be made
};

TEST_F(PrintJobsTest, SetDBNameCreatesThePrintersTable) {
  fs::create_directories(root_ / "data");
  for (std::string path : {(root_ / "data").string(), (root_ / "data").string() + "\\"}) {
    TPrintServer server(state_, {});
    Variant ok;
    server.setDBName(Variant(u"shop"), Variant(platform::AnsiToWide(path)), ok);
    ASSERT_TRUE(ok.BoolValue()) << path;
  }
  auto table = TSQLiteDatabase((root_ / "data" / "Zentrak" / "shop.db").string())
                   .QueryTable("select sql from sqlite_master where name='Printers'");
  ASSERT_EQ(table->RowCount(), 1u);
  EXPECT_EQ(table->CellText(0), "CREATE TABLE Printers (VPrinterName TEXT NOT NULL PRIMARY KEY,PhPrinterName TEXT)");

  TPrintServer server(state_, {});
  Variant ok;
  server.setDBName(Variant::Null(), Variant(), ok);
  EXPECT_EQ(ok.Type(), VarType::Boolean);
  EXPECT_FALSE(ok.BoolValue());
}

// Written by hand from the result shape; the printer list keeps the platform's order.
TEST_F(PrintJobsTest, ListsAsResultJson) {
  auto server = MakeServer();
  Variant v;
  server->getVPrinters(v);
  EXPECT_EQ(v.WideText(), u"{\"size\":-1,\"total\":0,\"page\":-1,\"meta\":[],\"data\":[]}");
  Map("('Invoices','Office'),('Labels',NULL),('\xE6\x94\xB6\xE6\x8D\xAE','Plotter')");
  server->getVPrinters(v);
  EXPECT_EQ(v.WideText(),
            u"{\"size\":-1,\"total\":3,\"page\":-1,\"meta\":[\"VPRINTERNAME\",\"PHPRINTERNAME\"],\"data\":"
            u"[[\"Invoices\",\"Office\"],[\"Labels\",null],[\"\u6536\u636E\",\"Plotter\"]]}");

  server->getPhPrinters(v);
  EXPECT_EQ(v.WideText(),
            u"{\"size\":-1,\"total\":3,\"page\":-1,\"meta\":[\"PhPrinterName\"],\"data\":"
            u"[[\"Office\"],[\"Label-Writer\"],[\"Plotter\"]]}");
  printers_.installed.clear();
  PrinterState empty(printers_);
  TPrintServer none(empty, {});
  none.getPhPrinters(v);  // needs no database
  EXPECT_EQ(v.WideText(), u"{\"size\":-1,\"total\":0,\"page\":-1,\"meta\":[\"PhPrinterName\"],\"data\":[]}");
}

TEST_F(PrintJobsTest, MembersThatNeedTheDatabaseFailWithoutOne) {
  TPrintServer server(state_, {});
  Variant v;
  std::vector<std::string> items;
  const std::string message = "No database is open: call setDBName first";
  EXPECT_EQ(RaisedMessage([&] { server.getVPrinters(v); }), message);
  EXPECT_EQ(RaisedMessage([&] { server.printOut(Variant(u"Office"), Doc("%PDF"), v); }), message);
  EXPECT_EQ(RaisedMessage([&] { server.fillVPrinterChoices(items); }), message);
  EXPECT_TRUE(printers_.defaults_written.empty());
}

TEST_F(PrintJobsTest, SelectPrinter) {
  auto server = MakeServer();
  Map("('Invoices','Label-Writer'),('Draft','Missing'),('Blank',NULL)");
  struct Case {
    const char* name;
    bool selected;
    const char* current;  // after the call
    int writes;           // defaults written so far
  } cases[] = {
      {"Office", true, "Office", 0},              // already current: nothing is written
      {"Invoices", true, "Label-Writer", 1},      // a virtual name
      {"invoices", false, "Label-Writer", 1},     // virtual names keep their case
      {"PLOTTER", true, "Plotter", 2},            // installed names do not
      {"plotter", true, "Plotter", 2},
      {"Draft", false, "Plotter", 2},             // mapped to a printer that is not installed
      {"Blank", false, "Plotter", 2},             // NULL falls back to the name itself
      {"", false, "Plotter", 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(server->selectPrinter(c.name), c.selected) << c.name;
    EXPECT_EQ(state_.CurrentName(), c.current) << c.name;
    EXPECT_EQ(static_cast<int>(printers_.defaults_written.size()), c.writes) << c.name;
  }
  EXPECT_EQ(printers_.list_reads, 1);  // once per process, however often it is used

  // A later change of the default by another program does not move the current printer.
  printers_.default_printer = "Office";
  EXPECT_TRUE(server->selectPrinter("Plotter"));
  EXPECT_EQ(printers_.defaults_written.size(), 2u);
}

TEST_F(PrintJobsTest, NoDefaultPrinter) {
  auto server = MakeServer();
  Variant v;
  for (const char* default_printer : {"", "Gone"}) {
    printers_.default_printer = default_printer;
    PrinterState fresh_state(printers_);
    EXPECT_EQ(RaisedMessage([&] { fresh_state.CurrentName(); }), "There is no default printer currently selected");
  }
  printers_.default_printer = "";
  PrinterState state(printers_);
  TPrintServer fresh(state, [this](PrintDestination d) {
    return std::make_unique<RecordingEngine>(log_, std::move(d), true, false);
  });
  fresh.setDBName(Variant(u"print"), Variant(), v);
  EXPECT_EQ(RaisedMessage([&] { fresh.printOut(Variant(u"Unknown"), Doc("x"), v); }),
            "There is no default printer currently selected");
  EXPECT_EQ(log_.back(), "close");
  // A selected printer needs no default.
  fresh.printOut(Variant(u"plotter"), Doc("x"), v);
  EXPECT_EQ(log_[log_.size() - 2], "print plain on Plotter");
}

TEST_F(PrintJobsTest, FillVPrinterChoices) {
  auto server = MakeServer();
  std::vector<std::string> items = {"stale"};
  EXPECT_EQ(server->fillVPrinterChoices(items), -1);
  EXPECT_TRUE(items.empty());
  Map("('A','Office'),('B','Missing'),('C','PLOTTER'),('D','Office'),('E',NULL)");
  EXPECT_EQ(server->fillVPrinterChoices(items), 2);  // D, the last one on the current printer
  EXPECT_EQ(items, (std::vector<std::string>{"A", "C", "D"}));
  server->selectPrinter("Plotter");
  EXPECT_EQ(server->fillVPrinterChoices(items), -1);  // C names it in another case
}

TEST_F(PrintJobsTest, PrintOutPutsFiveSettingsThenPrintsPlain) {
  auto server = MakeServer();
  Map("('Labels','Label-Writer')");
  Variant v;
  server->printOut(Variant(u"Labels"), Doc("%PDF-1.4"), v);
  EXPECT_EQ(v.Type(), VarType::Boolean);
  EXPECT_TRUE(v.BoolValue());
  EXPECT_EQ(log_, (std::vector<std::string>{"open %PDF-1.4", "PrinterRangeMode 0", "NumOfCopies 1", "AutoRotate 0",
                                            "AutoCenter 0", "Scaling 100", "print plain on Label-Writer", "close"}));
  EXPECT_EQ(printers_.defaults_written, std::vector<std::string>{"Label-Writer"});  // and it stays

  log_.clear();
  server->printOut(Variant(u"Nobody"), Doc("x"), v);  // an unknown name prints on the current printer
  EXPECT_EQ(log_[6], "print plain on Label-Writer");

  log_.clear();
  has_printer_ = false;
  server->printOut(Variant(u"Labels"), Doc("x"), v);
  EXPECT_EQ(log_, (std::vector<std::string>{"open x", "close"}));
}

TEST_F(PrintJobsTest, AFailedPrintFailsTheCallAndClosesTheDocument) {
  auto server = MakeServer();
  print_fails_ = true;
  Variant v;
  EXPECT_EQ(RaisedMessage([&] { server->printOut(Variant(u"Plotter"), Doc("x"), v); }), "the printer is on fire");
  EXPECT_EQ(v.Type(), VarType::Empty);
  EXPECT_EQ(log_.back(), "close");
  EXPECT_EQ(state_.CurrentName(), "Plotter");  // the selection is not undone
}

// The settings each options text reaches the engine with, in the order they are put: range mode,
// from, to, copies, rotate, centre, scaling. An error ends the list where the failing option is
// read; nothing is printed then.
TEST_F(PrintJobsTest, PrintOutWithPageOptions) {
  const std::string kConvNull = "Could not convert variant of type (Null) into type (Integer)";
  struct Case {
    const char* options;
    std::vector<int> puts;
    std::string error;
  } cases[] = {
      {"", {0, 1, 1, 1, 0, 0, 100}, ""},
      {"not json", {0, 1, 1, 1, 0, 0, 100}, ""},
      {"{}", {0, 1, 1, 1, 0, 0, 100}, ""},
      {"5", {5, 5, 5, 5, 0, 0, 5}, ""},  // a bare value answers for every key
      {"1", {1, 1, 1, 1, 1, 1, 1}, ""},
      {"[1,2]", {}, kConvNull},
      {"null", {}, kConvNull},
      {R"({"PrinterRangeMode":1,"printerRangeFrom":2,"printerRangeTo":7,"numOfCopies":3,"AutoRotate":1,)"
       R"("AutoCenter":1,"Scaling":50})",
       {1, 2, 7, 3, 1, 1, 50}, ""},
      {R"({"numOfCopies":2.5})", {0, 1, 1, 2, 0, 0, 100}, ""},  // halves to even
      {R"({"numOfCopies":3.5})", {0, 1, 1, 4, 0, 0, 100}, ""},
      {R"({"numOfCopies":"3"})", {0, 1, 1, 3, 0, 0, 100}, ""},
      {R"({"numOfCopies":65537})", {0, 1, 1, 1, 0, 0, 100}, ""},     // low 16 bits
      {R"({"printerRangeTo":98304})", {0, 1, -32768, 1, 0, 0, 100}, ""},
      {R"({"numOfCopies":2,"numOfCopies":9})", {0, 1, 1, 2, 0, 0, 100}, ""},  // the first one counts
      {R"({"AutoRotate":true,"AutoCenter":-1})", {0, 1, 1, 1, 0, 0, 100}, ""},  // true is -1, not 1
      {R"({"AutoRotate":"1"})", {0, 1, 1, 1, 1, 0, 100}, ""},
      {R"({"scaling":50,"printerrangemode":1})", {0, 1, 1, 1, 0, 0, 100}, ""},  // keys keep their case
      {R"({"AutoCenter":null})", {0, 1, 1, 1, 0}, kConvNull},
      // Text that is no number is read as a boolean, as every integer argument is: "true" is 1.
      {R"({"AutoCenter":"true"})", {0, 1, 1, 1, 0, 1, 100}, ""},
      {R"({"numOfCopies":"two"})", {0, 1, 1}, "Could not convert variant of type (OleStr) into type (Boolean)"},
      {R"({"Scaling":4294967296})", {0, 1, 1, 1, 0, 0},
       "Overflow while converting variant of type (Double) into type (Integer)"},
  };
  const char* names[] = {"PrinterRangeMode", "PrinterRangeFrom", "PrinterRangeTo", "NumOfCopies",
                         "AutoRotate",       "AutoCenter",       "Scaling"};
  auto server = MakeServer();
  for (const auto& c : cases) {
    log_.clear();
    std::vector<std::string> expected = {"open %PDF"};
    for (size_t i = 0; i < c.puts.size(); ++i) expected.push_back(std::string(names[i]) + " " + std::to_string(c.puts[i]));
    if (c.error.empty()) expected.push_back("print on Office");
    expected.push_back("close");
    Variant v;
    std::string raised = RaisedMessage(
        [&] { server->printOutWithPage(Variant(u"Office"), Doc("%PDF"), Variant(platform::AnsiToWide(c.options)), v); });
    EXPECT_EQ(raised, c.error.empty() ? "(no error)" : c.error) << c.options;
    EXPECT_EQ(log_, expected) << c.options;
    EXPECT_EQ(v.Type(), VarType::Empty) << c.options;
  }
}

TEST_F(PrintJobsTest, DocumentFile) {
  auto server = MakeServer();
  std::string bytes("%PDF-1.4\0\xFF\n", 12);
  std::string first = server->saveDocumentToFile(Doc(bytes));
  const std::string folder = (root_ / "profile").string() + "\\Zentrak\\";
  ASSERT_EQ(first.rfind(folder, 0), 0u) << first;
  EXPECT_TRUE(std::regex_match(first.substr(folder.size()), std::regex("ToPrint[0-9]{14}[0-9]{1,2}\\.pdf"))) << first;
  std::ifstream in(platform::NativePath(first), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_EQ(s.str(), bytes);

  // Another Path for the database does not move the file out of the profile's folder.
  fs::create_directories(root_ / "elsewhere");
  Variant ok;
  server->setDBName(Variant(u"x"), Variant(platform::AnsiToWide((root_ / "elsewhere").string())), ok);
  EXPECT_EQ(server->saveDocumentToFile(Doc("y")).rfind(folder, 0), 0u);

  // A profile folder that is a file: nothing can be created under it.
  std::ofstream((root_ / "blocker").string()) << "x";
  setenv("USERPROFILE", (root_ / "blocker").c_str(), 1);
  std::string raised = RaisedMessage([&] { server->saveDocumentToFile(Doc("z")); });
  EXPECT_EQ(raised.rfind("Cannot create file \"" + (root_ / "blocker").string() + "/Zentrak/ToPrint", 0), 0u) << raised;
  EXPECT_NE(raised.find(".pdf\". Not a directory"), std::string::npos) << raised;
}

// The files in the profile's Zentrak folder that a preview may have left.
std::vector<std::string> DocumentFiles(const fs::path& profile) {
  std::vector<std::string> names;
  if (!fs::exists(profile / "Zentrak")) return names;
  for (const auto& e : fs::directory_iterator(profile / "Zentrak")) {
    if (e.path().extension() == ".pdf") names.push_back(e.path().filename().string());
  }
  return names;
}

TEST_F(PrintJobsTest, PreviewOpensTheFilePreselectsAndPrintsFromTheButton) {
  auto server = MakeServer();
  Map("('Labels','Label-Writer'),('Main','Office'),('Gone','Missing')");
  std::vector<std::string> files_while_open;
  user_ = [&](ScriptedPreview& window) {
    files_while_open = DocumentFiles(root_ / "profile");
    window.Click();  // the preselected virtual name
    window.Type("plotter");
    window.Click();  // a physical name, in another case
    window.Type("Nobody");
    window.Click();  // names nothing: the current printer stays
  };
  Variant v;
  server->preview(Doc("%PDF-1.7"), v);
  EXPECT_EQ(v.Type(), VarType::OleStr);
  EXPECT_EQ(v.WideText(), u"true");

  EXPECT_EQ(preview_.items, (std::vector<std::string>{"Labels", "Main"}));
  EXPECT_EQ(preview_.selected, 1);
  ASSERT_EQ(files_while_open.size(), 1u);
  EXPECT_EQ(fs::path(preview_.document).filename().string(), files_while_open[0]);
  EXPECT_EQ(log_, (std::vector<std::string>{"DisplaySwitch19 0", "DisplaySwitch49 0", "open file " + preview_.document,
                                            "PrinterRangeMode 0", "NumOfCopies 0", "print on Office",
                                            "PrinterRangeMode 0", "NumOfCopies 0", "print on Plotter",
                                            "PrinterRangeMode 0", "NumOfCopies 0", "print on Plotter", "close"}));
  EXPECT_EQ(printers_.defaults_written, std::vector<std::string>{"Plotter"});
  EXPECT_TRUE(preview_.errors.empty());
  EXPECT_TRUE(preview_.destroyed);
  EXPECT_TRUE(DocumentFiles(root_ / "profile").empty());  // deleted on close
}

// What one press of the button does in each situation; the window stays open after an error,
// and a second press tries again.
TEST_F(PrintJobsTest, PreviewButtonOutcomes) {
  struct Case {
    const char* what;
    bool mapped, has_printer, print_fails;
    std::vector<std::string> clicks;  // the log of the presses, between open and close
    std::vector<std::string> errors;
  };
  const Case cases[] = {
      {"nothing preselected: the text stays Printers and prints on the current printer", false, true, false,
       {"PrinterRangeMode 0", "NumOfCopies 0", "print on Office", "PrinterRangeMode 0", "NumOfCopies 0",
        "print on Office"},
       {}},
      {"an engine without a printer object prints nothing and says nothing", true, false, false, {}, {}},
      {"a failing print is shown each time", true, true, true,
       {"PrinterRangeMode 0", "NumOfCopies 0", "PrinterRangeMode 0", "NumOfCopies 0"},
       {"the printer is on fire", "the printer is on fire"}},
  };
  for (const Case& c : cases) {
    SetUp();
    log_.clear();
    preview_ = {};
    has_printer_ = c.has_printer;
    print_fails_ = c.print_fails;
    auto server = MakeServer();
    if (c.mapped) Map("('Main','Office')");
    std::string text_before;
    user_ = [&](ScriptedPreview& window) {
      text_before = window.PrinterText();
      window.Click();
      window.Click();
    };
    Variant v;
    server->preview(Doc("%PDF"), v);
    EXPECT_EQ(text_before, c.mapped ? "Main" : "Printers") << c.what;
    EXPECT_EQ(preview_.selected, c.mapped ? 0 : -1) << c.what;
    std::vector<std::string> clicks(log_.begin() + 3, log_.end() - 1);
    EXPECT_EQ(clicks, c.clicks) << c.what;
    EXPECT_EQ(log_.back(), "close") << c.what;
    EXPECT_EQ(preview_.errors, c.errors) << c.what;
    EXPECT_EQ(v.WideText(), u"true") << c.what;
    EXPECT_TRUE(DocumentFiles(root_ / "profile").empty()) << c.what;
  }
}

TEST_F(PrintJobsTest, PreviewFailures) {
  // No window can be made: nothing is written and no engine document is opened.
  auto server = MakeServer();
  preview_error_ = "No display for the preview window";
  Variant v;
  EXPECT_EQ(RaisedMessage([&] { server->preview(Doc("%PDF"), v); }), "No display for the preview window");
  EXPECT_TRUE(DocumentFiles(root_ / "profile").empty());
  EXPECT_EQ(v.Type(), VarType::Empty);

  // No database: the list cannot be filled after the file was written, which stays behind.
  preview_error_.clear();
  log_.clear();
  TPrintServer bare(state_, [this](PrintDestination destination) {
    return std::make_unique<RecordingEngine>(log_, std::move(destination), true, false);
  }, [this](PreviewHandlers handlers) -> std::unique_ptr<PreviewView> {
    return std::make_unique<ScriptedPreview>(std::move(handlers), preview_, user_);
  });
  EXPECT_EQ(RaisedMessage([&] { bare.preview(Doc("%PDF"), v); }), "No database is open: call setDBName first");
  EXPECT_EQ(DocumentFiles(root_ / "profile").size(), 1u);
  EXPECT_EQ(v.Type(), VarType::Empty);
}

}  // namespace
}  // namespace zentrak
