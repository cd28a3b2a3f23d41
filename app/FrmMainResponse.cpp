// What the main window shows of a response beside its body: every response
// of a redirect chain, where the time went, and the body read in a charset
// the user chooses.

#include "app/untFrmMain.h"

#include "app/StatusPanels.h"
#include "request/BodyCharset.h"
#include "request/ResponseDetails.h"
#include "request/UTF8Unit.h"
#include "results/LargeTextView.h"
#include "ui_untFrmMain.h"
#include "util/AnsiCodec.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QPlainTextEdit>

void TFrmMain::attachResponseDetails()
{
    mniShowAllHops = new QAction(QStringLiteral("显示全部跳转"), this);
    mniShowAllHops->setObjectName(QStringLiteral("mniShowAllHops"));
    mniShowAllHops->setCheckable(true);
    connect(mniShowAllHops, &QAction::triggered, this,
            [this] { guarded([this] { mniShowAllHopsClick(); }); });

    QPlainTextEdit* pane = ui->mmoRespHeaders;
    pane->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(pane, &QWidget::customContextMenuRequested, this, [this, pane](const QPoint& at) {
        QMenu* menu = pane->createStandardContextMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addSeparator();
        menu->addAction(mniShowAllHops);
        menu->popup(pane->viewport()->mapToGlobal(at));
    });

    connect(ui->mmoHtml, &LargeTextView::contextMenuAboutToShow, this,
            [this](QMenu* menu) { addBodyCharsetMenu(menu); });
}

void TFrmMain::showResponseHeaders(const HttpComponent* http)
{
    m_finalResponseHeaders = http ? http->getAllResponseHeaders() : QByteArray();
    m_responseHops =
        http ? ResponseChainText(http->responseStatusChain(), http->responseHeaderChain())
             : QByteArray();
    mniShowAllHopsClick();
}

void TFrmMain::mniShowAllHopsClick()
{
    const QByteArray& shown = mniShowAllHops->isChecked() ? m_responseHops : m_finalResponseHeaders;
    ui->mmoRespHeaders->setPlainText(AnsiCodec::toUnicode(shown));
}

void TFrmMain::showTransferTimes(const QList<HttpHopTiming>& hops)
{
    const QString times = TransferTimesText(hops);
    m_statusBar->setDetail(3, times);
    m_statusBar->setDetail(4, times);
}

bool TFrmMain::holdsResponseBody() const
{
    // Only the body LastResponseText was made from, not a text set otherwise.
    return !m_responseBody.isEmpty() &&
           m_htmlMemoTextOf.constData() == LastResponseText.constData() &&
           m_htmlMemoTextOf.size() == LastResponseText.size();
}

void TFrmMain::readBodyInCharset(const QByteArray& charset)
{
    if (!holdsResponseBody())
        return;
    if (charset.isEmpty()) {
        const bool wellFormed = IsUTF8Encoded(m_responseBody) && m_responseBody.isValidUtf8();
        m_htmlMemoText = BodyToUtf8(
            m_responseBody, DeclaredCharset(m_responseBodyHeaders, m_responseBody), wellFormed);
    } else {
        m_htmlMemoText = BodyToUtf8In(m_responseBody, charset);
    }
    m_bodyCharset = charset;
    const int view = ui->cbbResultType->currentIndex();
    if (view == 0 || view == 1)
        showResponseInMemo(view == 1);
}

void TFrmMain::addBodyCharsetMenu(QMenu* menu)
{
    menu->addSeparator();
    QMenu* charsets = menu->addMenu(QStringLiteral("编码(&E)"));
    charsets->setObjectName(QStringLiteral("pmBodyCharset"));
    charsets->setEnabled(holdsResponseBody());
    auto* group = new QActionGroup(charsets);
    const auto add = [&](const QString& text, const QByteArray& charset) {
        QAction* action = charsets->addAction(text);
        action->setCheckable(true);
        action->setChecked(charset == m_bodyCharset);
        group->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, charset] { guarded([&] { readBodyInCharset(charset); }); });
    };
    add(QStringLiteral("自动"), QByteArray());
    charsets->addSeparator();
    for (const QByteArray& charset : OfferedCharsets())
        add(QString::fromLatin1(charset), charset);
}
