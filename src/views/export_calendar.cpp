#include "export_calendar.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QUuid>

#include <cerrno>
#include <cstdio>

namespace {


const QString exportPath = QStringLiteral("/api/native/export.ics");

} // namespace

QCoro::Task<> exportCalendar(QWidget *parent, NativeClient client)
{
    const QPointer<QWidget> owner(parent);
    const QString chosen = QFileDialog::getSaveFileName(
        parent, QCoreApplication::translate("ExportCalendar", "Export Calendar"),
        QDir::home().filePath(QCoreApplication::translate("ExportCalendar", "Calendar.ics")),
        QCoreApplication::translate("ExportCalendar", "iCalendar files (*.ics)"));
    if (chosen.isEmpty() || !client)
        co_return;
    // The dialog has asked whether to replace a file that is there.
    const bool replacing = QFileInfo::exists(chosen);
    const QString target = replacing ? QFileInfo(chosen).dir().filePath(QStringLiteral(".export-")
                                                                          + QUuid::createUuid().toString(QUuid::Id128)
                                                                          + QStringLiteral(".ics"))
                                     : chosen;
    QString failure;
    try {
        co_await client->download(exportPath, QUrl::fromLocalFile(target));
        if (replacing && std::rename(QFile::encodeName(target).constData(), QFile::encodeName(chosen).constData()) != 0) {
            failure = qt_error_string(errno);
            QFile::remove(target);
        }
    } catch (...) {
        failure = describeError(std::current_exception());
    }
    if (!failure.isEmpty() && owner)
        QMessageBox::warning(owner, QCoreApplication::translate("ExportCalendar", "Export Failed"), failure);
}
