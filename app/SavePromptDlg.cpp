#include "app/SavePromptDlg.h"

#include "app/DialogLayout.h"
#include "app/DialogTemplate.h"
#include "app/DialogTexts.h"

#include <QPushButton>

namespace velmar {

CSavePromptDlg::CSavePromptDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setFont(DialogFont());
    setWindowTitle(QString::fromUtf8(texts::kPromptTitle));
    setFixedSize(DialogUnitsToPixels(kPromptDialogSize, font()).size());
    for (const TemplateControl& control : kPromptTemplate) {
        CreateTemplateControl(*this, control);
    }
    auto* yes = qobject_cast<QPushButton*>(FindControl(*this, ControlId::PromptYes));
    auto* no = qobject_cast<QPushButton*>(FindControl(*this, ControlId::PromptNo));
    yes->setDefault(true);
    yes->setFocus(Qt::OtherFocusReason);
    connect(yes, &QPushButton::clicked, this, &QDialog::accept);
    connect(no, &QPushButton::clicked, this, &QDialog::reject);
}

} // namespace velmar
