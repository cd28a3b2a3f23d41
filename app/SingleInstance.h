#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLockFile;
class QSocketNotifier;
class QWidget;

// One window per settings folder. Both files are written whole when the
// window closes, so two windows on one folder cannot both keep what they
// were given: the one closed last writes back what the other deleted. The
// first start on a folder holds a lock file in it and listens on a local
// socket named after the folder and the user (an abstract one: no file to be
// left behind); a later start on the same folder asks that window to come to
// the front and ends. Copies with other folders (portable
// copies elsewhere, other users) are not concerned. A lock left by a process
// that is gone (a crash) is taken over.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Outcome
    {
        First,   // this process holds the folder
        Raised,  // the running window was asked to the front
        Busy,    // held by a window that did not answer
        Unlocked // the folder takes no lock (not writable): no guard
    };

    explicit SingleInstance(const QString& folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the folder, or asks the window that holds it to the front.
    Outcome claim();
    // The window a later start brings to the front.
    void setWindow(QWidget* window) { m_window = window; }

    static QString lockPathFor(const QString& folder);
    static QString serverNameFor(const QString& folder);
    // The message of a start that found the folder held by a window that did
    // not answer.
    static QString busyMessage(const QString& folder);

signals:
    void raiseRequested();

private:
    void answer();
    Outcome askHolder() const;

    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    int m_listener = -1;
    QSocketNotifier* m_notifier = nullptr;
    QWidget* m_window = nullptr;
};
