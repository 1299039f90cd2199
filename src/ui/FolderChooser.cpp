#include "ui/FolderChooser.h"

#include "platform/Application.h"

#include <QDir>
#include <QFileDialog>

void FolderChooser::begin(const QString& prompt, const QString& message, Completion completion)
{
    auto* dialog = new QFileDialog(nullptr, message, QDir::homePath());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setLabelText(QFileDialog::Accept, prompt);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, completion = std::move(completion)](int result) {
        const QStringList chosen = dialog->selectedFiles();
        if (result == QDialog::Accepted && !chosen.isEmpty() && !chosen.first().isEmpty()) {
            completion(chosen.first());
        } else {
            completion(std::nullopt);
        }
    });
    dialog->show();
    Application::bringForward(dialog->windowHandle());
}
