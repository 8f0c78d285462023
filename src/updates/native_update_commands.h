#pragma once

#include "native_updater.h"

#include <QObject>
#include <QPointer>

class QAction;
class QMessageBox;
class QWidget;

// The application menu's two update items, to be placed right after "About", and the dialog that
// tells the user what a check found.
class NativeUpdateCommands : public QObject {
    Q_OBJECT
public:
    // The updater must outlive the commands.
    explicit NativeUpdateCommands(NativeUpdater &updater, QObject *parent = nullptr);
    ~NativeUpdateCommands() override;

    // "Check for Updates…": enabled while the updater can check.
    QAction *checkForUpdates() const { return m_check; }
    // "Automatically Check for Updates": checkable, shows the updater's setting; enabled only when
    // the updater is configured.
    QAction *automaticallyCheck() const { return m_automatic; }
    // Both, in menu order.
    QList<QAction *> actions() const;

    // Announced results are shown in a dialog over this window (or on their own when it is gone).
    void setDialogParent(QWidget *parent);

    // The dialog for one result, not yet shown; deletes itself when closed. It offers the release
    // notes only for an https link.
    static QMessageBox *resultDialog(const NativeUpdateResult &result, QWidget *parent);

private:
    NativeUpdater &m_updater;
    QAction *m_check;
    QAction *m_automatic;
    QPointer<QWidget> m_dialogParent;
};
