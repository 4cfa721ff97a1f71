// The save prompt, "Do you want to save the recorded file?" with Yes (the default button, ends
// with the accept code) and No (ends with the reject code, as Escape and the close box do).
#pragma once

#include <QDialog>

namespace velmar {

class CSavePromptDlg : public QDialog {
    Q_OBJECT

public:
    explicit CSavePromptDlg(QWidget* parent = nullptr);
};

} // namespace velmar
