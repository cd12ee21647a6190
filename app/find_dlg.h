// FindDialog: the viewer's modeless find box. The user types a search text, chooses Up or Down
// (Down at first) and presses Find Next; the box tells its viewer, which searches. Each box
// works on its own and deletes itself when closed; several may be open at once.
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kelo::app {

class FindDialog : public QDialog {
    Q_OBJECT

  public:
    explicit FindDialog(QWidget* owner);

    // The search text as bytes of the locale's encoding, as the report text is held.
    std::string Needle() const;
    bool SearchesDown() const;

  signals:
    // Find Next was pressed in this box.
    void FindNextRequested(FindDialog* box);

  private:
    void OnTextEdited();

    QLineEdit* findWhat_ = nullptr;
    QRadioButton* down_ = nullptr;
    QPushButton* findNext_ = nullptr;
};

}  // namespace kelo::app
