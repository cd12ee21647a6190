// kelo-screenshots: renders Kelo's dialogs into PNG files for review, one file per dialog in a
// typical state, touching neither the user's settings nor the file-type registration. Usage:
// kelo-screenshots [folder]; the folder (default "screenshots") is made when missing.
// scripts/screenshots runs it on a virtual X display.
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "app/about_dlg.h"
#include "app/app_icon.h"
#include "app/comm_cancel_dlg.h"
#include "app/compare_dlg.h"
#include "app/find_dlg.h"
#include "app/find_machines_dlg.h"
#include "app/history_dlg.h"
#include "app/kelo_dlg.h"
#include "app/message_box_sink.h"
#include "app/port_select_dlg.h"
#include "app/report_dlg.h"
#include "platform/code_page.h"
#include "records/service_records.h"
#include "tests/app/named_child.h"

namespace {

using kelo::app::Child;

// Saves what the widget shows once pending painting has run.
bool Save(QWidget& widget, const QString& path) {
    QCoreApplication::processEvents();
    return widget.grab().save(path, "PNG");
}

// A modal dialog is shot from inside its own loop, as the user sees it, then cancelled.
bool SaveFromModalLoop(QDialog& dialog, const QString& path, const std::function<void()>& run) {
    bool saved = false;
    QTimer::singleShot(0, &dialog, [&] {
        saved = Save(dialog, path);
        dialog.reject();
    });
    run();
    return saved;
}

bool ProgressWindow(const QString& path) {
    kelo::app::ProgressDialog dialog;
    dialog.SetRange(100);
    dialog.Show();
    dialog.SetPos(40);
    return Save(dialog, path);
}

bool PortSelection(const QString& path, int portKind) {
    kelo::app::SelectPortDialog dialog;
    kelo::PortSelection selection;
    selection.portKind = portKind;
    selection.typeValue = 2;
    selection.hosts = {"192.168.1.20", "printer-2.example.net", "10.0.0.7"};
    selection.selectedHost = 1;
    return SaveFromModalLoop(dialog, path, [&] { dialog.Run(selection); });
}

// Find Machines after a sweep of a subnet, with a machine selected. The discovery is a stand-in
// that reports sample machines: a screenshot never probes the network.
bool FindMachines(const QString& path) {
    using kelo::discover::FoundMachine;
    const std::vector<FoundMachine> found = {
        {0xC0A80114, {3}, "press-hall-3", "Framed packets machine", std::nullopt, 4},
        {0xC0A8011F, {1, 2}, "kelo-lab-1", "Plain commands machine", "MDL:Type 1;", 3},
        {0xC0A8012F, {4}, "line-4-packer", std::nullopt, std::nullopt, 7},
        {0xC0A80166, {1, 2}, std::nullopt, std::nullopt, "MDL:Type 2;", 12},
    };
    kelo::app::FindMachinesDialog dialog;
    Child<QLineEdit>(dialog, "subnet")->setText("192.168.1.0/24");
    dialog.SetRunner([&found](const kelo::discover::DiscoveryPlan&, kelo::platform::CancelDialog&,
                              const std::function<void(const FoundMachine&)>& onMachine,
                              const auto& onProgress) {
        for (const FoundMachine& machine : found)
            onMachine(machine);
        onProgress(kelo::discover::DiscoveryProgress{254, 254, 4});
        return kelo::discover::DiscoveryResult{false, "", found};
    });
    bool saved = false;
    QObject::connect(
        &dialog, &kelo::app::FindMachinesDialog::findingEnded, &dialog,
        [&] {
            auto* machines = Child<QTreeWidget>(dialog, "machines");
            machines->setCurrentItem(machines->topLevelItem(1));
            saved = Save(dialog, path);
            dialog.reject();
        },
        Qt::QueuedConnection);
    dialog.exec();
    return saved;
}

const char kSampleReport[] =
    "SERVICE REPORT\r\n"
    "==============\r\n"
    "Machine type        : Type3\r\n"
    "Serial number       : 4711-0815\r\n"
    "Firmware version    : 2.31\r\n"
    "\r\n"
    "Total counter       :   1,284,113\r\n"
    "Total A4 counter    :     903,552\r\n"
    "Total A3 counter    :     380,561\r\n"
    "Jam count           :         217\r\n"
    "Drum life           :        64 %\r\n"
    "Fixing temperature  :       182 C\r\n"
    "\r\n"
    "ERROR LOG\r\n"
    "  001  E-102  paper feed  <tray 2>\r\n"
    "  002  E-310  fuser       & heater\r\n"
    "  003  J-004  exit jam\r\n";

// The main window as it first appears, on a throwaway profile and without the registration.
std::unique_ptr<kelo::app::MainDialog> MainWindow() {
    auto dialog = std::make_unique<kelo::app::MainDialog>(
        "", QDir::temp().filePath(".kelo-screenshot.INI").toStdString());
    dialog->SetRegistration(std::nullopt);
    dialog->show();
    return dialog;
}

bool ShootMainDialog(const QString& path, bool busy) {
    const auto dialog = MainWindow();
    dialog->EnableControls(!busy);
    return Save(*dialog, path);
}

// With tracing, the protocol trace runs (into a file in the temporary folder: the trace writes
// regular files only) and its item shows checked.
bool SystemMenu(const QString& path, bool tracing) {
    const auto dialog = MainWindow();
    if (tracing)
        dialog->StartTrace(QDir::temp().filePath(".kelo-screenshot-trace.txt").toStdString());
    QMenu* menu = Child<QMenu>(*dialog, "systemMenu");
    menu->popup(dialog->mapToGlobal(QPoint(20, 20)));
    const bool saved = Save(*menu, path);
    menu->hide();
    return saved;
}

// As Shift+F10 opens it: at the window's corner, its first entry active. The window is shot
// with the menu over it.
bool SystemMenuByKeys(const QString& path) {
    const auto dialog = MainWindow();
    dialog->move(40, 40);
    QCoreApplication::processEvents();
    dialog->OpenSystemMenuByKey();
    QCoreApplication::processEvents();
    const QRect both =
        dialog->frameGeometry().united(Child<QMenu>(*dialog, "systemMenu")->geometry());
    const bool saved = dialog->screen()
                           ->grabWindow(0, both.x(), both.y(), both.width(), both.height())
                           .save(path, "PNG");
    Child<QMenu>(*dialog, "systemMenu")->hide();
    return saved;
}

bool AboutBox(const QString& path) {
    const auto dialog = MainWindow();
    kelo::app::AboutDialog about(dialog.get());
    about.SetVersionText(dialog->VersionText());
    about.show();
    return Save(about, path);
}

// The viewer with a report in which a find box has found the second match.
bool ReportViewer(const QString& path, bool grabFindBox) {
    kelo::app::ReportDialog viewer;
    viewer.SetReportText(kSampleReport);
    viewer.show();
    kelo::app::FindDialog* box = viewer.OnFind();
    Child<QLineEdit>(*box, "findWhat")->setText("counter");
    Child<QPushButton>(*box, "findNext")->click();
    Child<QPushButton>(*box, "findNext")->click();
    return grabFindBox ? Save(*box, path) : Save(viewer, path);
}

// A report a machine wrote in CP932, shown in that code page, with a Japanese word selected.
bool CodePageReport(const QString& path) {
    const std::optional<kelo::platform::CodePage> cp932 = kelo::platform::CodePage::Named("CP932");
    const std::optional<std::string> report = cp932->FromUtf8(
        "SERVICE REPORT\r\n\u5B9A\u7740\u6E29\u5EA6 (fixing temperature): 182 \u00B0C\r\n"
        "\u30E1\u30E2: \u30C8\u30CA\u30FC\u88DC\u7D66\u6E08\u307F <\u30C8\u30EC\u30A42>\r\n");
    kelo::app::ReportDialog viewer;
    viewer.SetCodePage(cp932);
    viewer.SetReportText(*report);
    viewer.show();
    viewer.SetSelection(16, 24);  // the Japanese for "fixing temperature"
    return Save(viewer, path);
}

// The two visits of the sample records: a morning in December 2026 and 40 days before.
constexpr int64_t kDayMs = 24 * 3600 * 1000;
constexpr int64_t kVisitMs = 1796804000000;
constexpr int64_t kEarlierVisitMs = kVisitMs - 40 * kDayMs;

// The report of a later visit: counters on, the drum worn, one more error.
std::string LaterReport() {
    std::string report = kSampleReport;
    auto change = [&report](const std::string& from, const std::string& to) {
        report.replace(report.find(from), from.size(), to);
    };
    change("1,284,113", "1,301,870");
    change("903,552", "915,004");
    change("380,561", "386,866");
    change("64 %", "58 %");
    report += "  004  E-102  paper feed  <tray 2>\r\n";
    return report;
}

// A few visits to two machines in a throwaway database, never the user's.
std::string SampleRecords() {
    using kelo::records::ContentKind;
    using kelo::records::Result;
    // In a folder of the user's own, as the records must be.
    const QString folder = QDir::temp().filePath(".kelo-screenshot-records");
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const std::string path = QDir(folder).filePath("records.sqlite3").toStdString();
    auto records = kelo::records::ServiceRecords::Open(path);
    auto keep = [&](const std::string& host, int64_t at, const char* operation, Result result,
                    const std::string& message, std::optional<kelo::records::ReadContent> content,
                    bool backup = false, int type = 3) {
        kelo::records::OperationRecord record;
        record.machine = {host, "", type, "network", ""};
        record.startedMs = at;
        record.endedMs = at + 2400;
        record.durationMs = 2400;
        record.operation = operation;
        record.result = result;
        record.message = message;
        record.program = "kelo";
        record.backup = backup;
        record.content = std::move(content);
        (*records.value)->RecordOperation(record);
    };
    const std::string first = kSampleReport;
    const std::string later = LaterReport();
    const kelo::records::ReadContent parameters{ContentKind::Parameters, {0x10, 0x20, 0x30, 0x40}};
    keep("printer-2.example.net", kEarlierVisitMs, "get-report", Result::Ok, "",
         kelo::records::ReadContent{ContentKind::Report, {first.begin(), first.end()}});
    keep("printer-2.example.net", kEarlierVisitMs + 60000, "get-params", Result::Ok, "",
         parameters);
    keep("192.168.1.20", kVisitMs - 2 * kDayMs, "get-report", Result::Failed, "Failed to connect",
         {});
    keep("printer-2.example.net", kVisitMs, "get-report", Result::Ok, "",
         kelo::records::ReadContent{ContentKind::Report, {later.begin(), later.end()}});
    keep("printer-2.example.net", kVisitMs + 90000, "backup", Result::Ok, "", parameters, true);
    keep("printer-2.example.net", kVisitMs + 95000, "put-params", Result::Ok, "Done.", {});
    keep("printer-2.example.net", kVisitMs + 300000, "upgrade", Result::Cancelled, "", {});
    // A put tried as the wrong type, its backup read failing without a message of its own.
    keep("printer-2.example.net", kVisitMs + 400000, "backup", Result::Failed, "", {}, true, 2);
    keep("printer-2.example.net", kVisitMs + 402000, "put-params", Result::Cancelled,
         "Could not read the machine's current parameters for a backup. Write the parameter "
         "file anyway?",
         {}, false, 2);
    // A search that found the serviced machine and two others.
    for (const char* found : {"printer-2.example.net", "192.168.1.31", "192.168.1.47"}) {
        (*records.value)
            ->RecordOperation(kelo::records::FoundMachineRecord(
                found, 0, "", kVisitMs + 500000, 1500, kelo::records::Program::Kelo));
    }
    return path;
}

// The newest report chosen; with discovered, discovery's findings shown as well.
bool History(const QString& path, bool discovered) {
    kelo::app::HistoryDialog history(SampleRecords(), "");
    history.SetWriteBackTarget({"printer-2.example.net", "", 3, "network", ""});
    Child<QCheckBox>(history, "showDiscovered")->setChecked(discovered);
    Child<QTableWidget>(history, "operations")->selectRow(discovered ? 6 : 5);
    history.show();
    return Save(history, path);
}

// The two visits' reports; with a long host name, the window as it fits the screen.
bool Compare(const QString& path, bool longHost) {
    const std::string host =
        longHost ? std::string(12, 'x') + ".line-" + std::string(180, 'y') + ".example.net  "
                 : "printer-2.example.net  ";
    kelo::app::CompareDialog compare(kSampleReport, LaterReport(),
                                     host + kelo::records::LocalTimeText(kEarlierVisitMs),
                                     host + kelo::records::LocalTimeText(kVisitMs), nullptr);
    compare.show();
    if (!longHost)
        compare.OnNextChange();
    return Save(compare, path);
}

bool CompareParameterSets(const QString& path) {
    std::vector<uint8_t> before(80);
    for (size_t i = 0; i < before.size(); ++i)
        before[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> after = before;
    after[20] = 0xFF;
    after.resize(96, 0x11);
    kelo::app::CompareDialog compare(kelo::app::HexLines(before), kelo::app::HexLines(after),
                                     "printer-2.example.net (type 3)  get-params",
                                     "printer-2.example.net (type 3)  backup", nullptr);
    compare.setWindowTitle("Compare Parameter Sets");
    compare.show();
    return Save(compare, path);
}

// A message naming a file whose name looks like markup.
bool MessageBox(const QString& path) {
    kelo::app::MessageBoxSink boxes;
    kelo::platform::MessageSink* previous = kelo::platform::SetMessageSink(&boxes);
    bool saved = false;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            saved = Save(*box, path);
            box->reject();
        }
    });
    kelo::platform::ShowText("<b>x.kel: Operation not permitted");
    kelo::platform::SetMessageSink(previous);
    return saved;
}

struct Shot {
    const char* file;
    std::function<bool(const QString& path)> take;
};

const std::vector<Shot>& Shots() {
    static const std::vector<Shot> shots = {
        {"kelo-main.png", [](const QString& path) { return ShootMainDialog(path, false); }},
        {"kelo-main-busy.png", [](const QString& path) { return ShootMainDialog(path, true); }},
        {"kelo-system-menu.png", [](const QString& path) { return SystemMenu(path, false); }},
        {"kelo-system-menu-trace.png", [](const QString& path) { return SystemMenu(path, true); }},
        {"kelo-system-menu-keys.png", SystemMenuByKeys},
        {"kelo-about.png", AboutBox},
        {"kelo-report.png", [](const QString& path) { return ReportViewer(path, false); }},
        {"kelo-find.png", [](const QString& path) { return ReportViewer(path, true); }},
        {"kelo-report-cp932.png", CodePageReport},
        {"message-box.png", MessageBox},
        {"progress.png", ProgressWindow},
        {"port_select_network.png",
         [](const QString& path) { return PortSelection(path, kelo::kPortNetwork); }},
        {"port_select_usb.png",
         [](const QString& path) { return PortSelection(path, kelo::kPortUsb); }},
        {"find_machines.png", FindMachines},
        {"history.png", [](const QString& path) { return History(path, false); }},
        {"history-discovered.png", [](const QString& path) { return History(path, true); }},
        {"compare.png", [](const QString& path) { return Compare(path, false); }},
        {"compare-long-host.png", [](const QString& path) { return Compare(path, true); }},
        {"compare-parameters.png", CompareParameterSets},
    };
    return shots;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setWindowIcon(kelo::app::AppIcon());
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("screenshots"));
    if (!QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "kelo-screenshots: cannot make %s\n", qPrintable(folder.path()));
        return 1;
    }
    int failures = 0;
    for (const Shot& shot : Shots()) {
        const QString path = folder.filePath(shot.file);
        if (shot.take(path)) {
            std::printf("%s\n", qPrintable(path));
        } else {
            std::fprintf(stderr, "kelo-screenshots: could not write %s\n", qPrintable(path));
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
