#pragma once

// What the page view tests share: the real main window with the scripted
// prompter and a loopback server, made afresh for each test function.

#include "app/untFrmMain.h"
#include "results/BrowserModule.h"
#include "results/LargeTextView.h"
#include "results/WebBrowser.h"
#include "support/LoopbackServer.h"
#include "support/ScriptedPrompter.h"
#include "support/TestHelpers.h"
#include "util/AnsiCodec.h"

#include <QComboBox>
#include <QLineEdit>
#include <QObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

class PageViewTest : public QObject
{
protected:
    // `caFile` stands in for the system's CA store, for the request
    // components and the page views alike.
    void openWindow(const QByteArray& caFile = QByteArray())
    {
        m_prompter = ScriptedPrompter();
        m_tmp = std::make_unique<QTemporaryDir>();
        m_server = std::make_unique<LoopbackServer>();
        TFrmMain::Environment env;
        env.prompter = &m_prompter;
        env.http.connectTimeoutMs = 3000;
        env.http.idleTimeoutMs = 3000;
        env.http.caFile = caFile;
        env.executablePath = QDir(m_tmp->path()).filePath(QStringLiteral("reqlark"));
        m_win = std::make_unique<TFrmMain>(env);
        m_win->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_win.get()));
    }

    void closeWindow()
    {
        m_win.reset();
        m_server.reset();
        m_tmp.reset();
        if (BrowserEngine* engine = BrowserModule::loadedEngine()) {
            engine->setApplicationProxy(QByteArray());
            engine->setProxyCredentials(QByteArray(), QByteArray());
        }
    }

    // As the user's pick: the selector's activation runs the view handler.
    void choose(int view)
    {
        views()->setCurrentIndex(view);
        emit views()->activated(view);
    }

    void typeUrl(const QByteArray& url)
    {
        child<QLineEdit>(m_win.get(), "edtUrl")->setText(AnsiCodec::toUnicode(url));
    }

    QVariant runJs(const QString& script)
    {
        // Shared: a page that goes answers its scripts late, when deleted.
        const auto answer = std::make_shared<std::optional<QVariant>>();
        m_win->browser()->runJavaScript(script, [answer](const QVariant& v) { *answer = v; });
        if (!QTest::qWaitFor([&] { return answer->has_value(); }, 60000))
            qWarning("script did not answer: %s", qPrintable(script));
        return answer->value_or(QVariant());
    }

    QString memo() const { return child<LargeTextView>(m_win.get(), "mmoHtml")->text(); }
    QComboBox* views() const { return child<QComboBox>(m_win.get(), "cbbResultType"); }

    // Requests for `path` only: the browser also asks for /favicon.ico.
    static QList<RecordedRequest> requestsFor(const LoopbackServer& server, const QByteArray& path)
    {
        QList<RecordedRequest> found;
        for (const RecordedRequest& r : server.requests()) {
            if (r.path() == path)
                found.append(r);
        }
        return found;
    }

    std::unique_ptr<QTemporaryDir> m_tmp;
    ScriptedPrompter m_prompter;
    std::unique_ptr<LoopbackServer> m_server;
    std::unique_ptr<TFrmMain> m_win;
};
