#include "native_update_commands.h"

#include <QAction>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>

NativeUpdateCommands::NativeUpdateCommands(NativeUpdater &updater, QObject *parent)
    : QObject(parent), m_updater(updater),
      // Untranslated titles show as written: tr() falls back to the English source text.
      m_check(new QAction(tr("Check for Updates\u2026"), this)),
      m_automatic(new QAction(tr("Automatically Check for Updates"), this))
{
    m_check->setMenuRole(QAction::ApplicationSpecificRole);
    m_check->setEnabled(updater.canCheckForUpdates());
    connect(&updater, &NativeUpdater::canCheckForUpdatesChanged, m_check, &QAction::setEnabled);
    connect(m_check, &QAction::triggered, &updater, &NativeUpdater::checkForUpdates);

    m_automatic->setMenuRole(QAction::ApplicationSpecificRole);
    m_automatic->setCheckable(true);
    m_automatic->setChecked(updater.automaticallyChecksForUpdates());
    m_automatic->setEnabled(updater.isConfigured());
    // The item shows what the updater reports, not what was clicked: a refused write puts it back.
    connect(m_automatic, &QAction::triggered, this, [this](bool checked) {
        m_updater.setAutomaticallyChecksForUpdates(checked);
        m_automatic->setChecked(m_updater.automaticallyChecksForUpdates());
    });
    connect(&updater, &NativeUpdater::automaticallyChecksForUpdatesChanged, m_automatic, &QAction::setChecked);

    connect(&updater, &NativeUpdater::announced, this,
            [this](const NativeUpdateResult &result) { resultDialog(result, m_dialogParent)->open(); });
}

NativeUpdateCommands::~NativeUpdateCommands() = default;

QList<QAction *> NativeUpdateCommands::actions() const { return {m_check, m_automatic}; }

void NativeUpdateCommands::setDialogParent(QWidget *parent) { m_dialogParent = parent; }

QMessageBox *NativeUpdateCommands::resultDialog(const NativeUpdateResult &result, QWidget *parent)
{
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(tr("Software Update"));
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    // The version and an error's description come from outside and are never read as markup: the
    // main text is plain, and the informative text (whose label takes no format of its own) is
    // escaped.
    box->setTextFormat(Qt::PlainText);
    const auto setDetails = [box](const QString &text) {
        box->setInformativeText(Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal));
    };
    switch (result.kind) {
    case NativeUpdateResult::Kind::Available:
        box->setIcon(QMessageBox::Information);
        box->setText(tr("Teodal Calendar %1 is available.").arg(result.version));
        setDetails(tr("You have version %1. Install the new version with your system\u2019s "
                                   "package manager.")
                                    .arg(result.currentVersion));
        break;
    case NativeUpdateResult::Kind::UpToDate:
        box->setIcon(QMessageBox::Information);
        box->setText(tr("You\u2019re up to date."));
        setDetails(
            tr("Teodal Calendar %1 is the newest version available.").arg(result.currentVersion));
        break;
    case NativeUpdateResult::Kind::Failed:
        box->setIcon(QMessageBox::Warning);
        box->setText(tr("Couldn\u2019t check for updates."));
        setDetails(result.error);
        break;
    }
    box->setStandardButtons(QMessageBox::Ok);
    box->setDefaultButton(QMessageBox::Ok);
    const QUrl notes = result.notes;
    if (result.kind == NativeUpdateResult::Kind::Available && notes.scheme() == u"https" && !notes.host().isEmpty()) {
        QPushButton *button = box->addButton(tr("Release Notes"), QMessageBox::ActionRole);
        // An action button would close the box; opening the link leaves it open.
        QObject::disconnect(button, &QAbstractButton::clicked, nullptr, nullptr);
        connect(button, &QPushButton::clicked, box, [notes] { QDesktopServices::openUrl(notes); });
    }
    return box;
}
