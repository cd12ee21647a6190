// kelo-screenshots: renders Kelo's dialogs into PNG files for review, one file per dialog in a
// typical state. Usage: kelo-screenshots [folder]; the folder (default "screenshots") is made
// when missing. scripts/screenshots runs it on a virtual X display.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <vector>

#include "app/comm_cancel_dlg.h"
#include "app/port_select_dlg.h"

namespace {

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
    app::CCommCancelDlg dialog;
    dialog.SetRange(100);
    dialog.Show();
    dialog.SetPos(40);
    return Save(dialog, path);
}

bool PortSelection(const QString& path, int portKind) {
    app::CPortSelectDlg dialog;
    kelo::PortSelection selection;
    selection.portKind = portKind;
    selection.typeValue = 2;
    selection.hosts = {"192.168.1.20", "printer-2.example.net", "10.0.0.7"};
    selection.selectedHost = 1;
    return SaveFromModalLoop(dialog, path, [&] { dialog.Run(selection); });
}

struct Shot {
    const char* file;
    std::function<bool(const QString& path)> take;
};

const std::vector<Shot>& Shots() {
    static const std::vector<Shot> shots = {
        {"progress.png", ProgressWindow},
        {"port_select_network.png",
         [](const QString& path) { return PortSelection(path, kelo::kPortNetwork); }},
        {"port_select_usb.png",
         [](const QString& path) { return PortSelection(path, kelo::kPortUsb); }},
    };
    return shots;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
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
