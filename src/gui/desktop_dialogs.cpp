#include "gui/desktop_dialogs.h"

#include <QComboBox>
#include <QLabel>

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <QWidget>

namespace korvimo::gui {

QString nameFilters(const app::FileChooser& chooser) {
    // Qt lists the files that match the patterns in a filter's parentheses, so a description
    // that does not show its pattern gets it added.
    QStringList filters;
    for (const app::FileFilter& filter : chooser.filters) {
        const std::string shown = "(" + filter.pattern + ")";
        filters << QString::fromStdString(filter.description.find(shown) != std::string::npos
                                              ? filter.description
                                              : filter.description + " " + shown);
    }
    return filters.join(QStringLiteral(";;"));
}

std::optional<std::string> chooseFile(QWidget* parent, const app::FileChooser& chooser) {
    QFileDialog dialog(parent, QString::fromStdString(chooser.title),
                       QString::fromStdString(chooser.directory), nameFilters(chooser));
    if (chooser.style == app::FileChooser::Style::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !chooser.confirmOverwrite);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front().toStdString();
}

void launchOrExplain(QWidget* parent, const Launcher& launch, const app::DesktopLaunch& desktop) {
    if (!desktop.command.empty() && launch && launch(desktop.command)) {
        return;
    }
    QMessageBox message(QMessageBox::Information, parent->window()->windowTitle(),
                        QString::fromStdString(desktop.fallbackText), QMessageBox::Ok, parent);
    message.exec();
}

QString qtext(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* labelFor(const char* text, QWidget* buddy) {
    auto* shown = new QLabel(text);
    shown->setBuddy(buddy);
    return shown;
}

QComboBox* editableList() {
    auto* box = new QComboBox;
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return box;
}

}  // namespace korvimo::gui
