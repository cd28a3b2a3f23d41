#include "app/untFrmMain.h"

#include "app/QtPrompter.h"
#include "app/StatusPanels.h"
#include "extras/VersionUnit.h"
#include "headers/HeaderList.h"
#include "results/BrowserPane.h"
#include "ui_untFrmMain.h"
#include "util/Anchors.h"
#include "util/ProgramResources.h"
#include "util/ReqlarkError.h"

#include <QCloseEvent>
#include <QFont>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QStyle>
#include <QTableView>

#include <algorithm>
#include <exception>
#include <utility>

namespace {

// The end of the window caption, after the version.
const char kCreditLine[] = "  —  Reqlark 开发组";

// The design face of every window; on Linux the WenQuanYi face stands in.
void installFontSubstitutes()
{
    const QString cjk = QStringLiteral("WenQuanYi Micro Hei");
    for (const QString& face : {QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"),
                                QStringLiteral("宋体"), QStringLiteral("SimSun")}) {
        if (!QFont::substitutes(face).contains(cjk))
            QFont::insertSubstitution(face, cjk);
    }
}

// The error box text: a full stop is added when the last character sorts
// after it, as letters, digits and Chinese characters do.
QString withFullStop(QString text)
{
    if (!text.isEmpty() && text.back().unicode() > u'.')
        text.append(QLatin1Char('.'));
    return text;
}

} // namespace

TFrmMain::TFrmMain(Environment environment, QWidget* parent)
    : QMainWindow(parent), m_env(std::move(environment)), ui(std::make_unique<Ui::TFrmMain>())
{
    installFontSubstitutes();
    ui->setupUi(this);

    if (m_env.prompter) {
        m_prompter = m_env.prompter;
    } else {
        m_ownPrompter = std::make_unique<QtPrompter>(this);
        m_prompter = m_ownPrompter.get();
    }

    m_headers = new HeaderList(this);
    m_headers->setPrompter(m_prompter);
    ui->lvwHeaders->setModel(m_headers);
    ui->lvwHeaders->horizontalHeader()->resizeSection(0, 120);
    ui->lvwHeaders->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);

    // The HTML memo keeps its selection visible without the focus by itself.
    ui->mmoHtml->setFont(font()); // its own font from the start, not the window's
    m_browserPane = new BrowserPane(ui->mmoHtml, ui->pnlBot);

    // Controls anchored as designed (the top panel's design size is 884 x 200)
    // and fitted to the interface font whenever it changes.
    TopPanelLayout::Controls& c = m_topControls;
    c.lblUrl = ui->lblUrl;
    c.Label1 = ui->Label1;
    c.lblHeaders = ui->lblHeaders;
    c.edtUrl = ui->edtUrl;
    c.edtData = ui->edtData;
    c.lvwHeaders = ui->lvwHeaders;
    c.grpBtns = ui->grpBtns;
    c.cbbComponent = ui->cbbComponent;
    c.cbbMethod = ui->cbbMethod;
    c.btnSaveToFile = ui->btnSaveToFile;
    c.cbbResultType = ui->cbbResultType;
    c.btnSendReqest = ui->btnSendReqest;
    c.chkGetRespCookie = ui->chkGetRespCookie;
    c.chkUseProxy = ui->chkUseProxy;
    m_topDesign = {TopPanelLayout::placesOf(c), QSize(884, 200), ui->pnlTop->minimumHeight()};
    m_topAnchors = new Anchors(ui->pnlTop, m_topDesign.panel);
    for (QWidget* label : {c.lblUrl, c.Label1, c.lblHeaders})
        m_topAnchors->add(label, Anchors::Left | Anchors::Top);
    m_topAnchors->add(ui->edtUrl, Anchors::Left | Anchors::Top | Anchors::Right);
    m_topAnchors->add(ui->edtData, Anchors::Left | Anchors::Top | Anchors::Right);
    m_topAnchors->add(ui->lvwHeaders, Anchors::All);
    m_topAnchors->add(ui->grpBtns, Anchors::Top | Anchors::Right);
    m_topPanelHeight = m_topDesign.panel.height();
    ui->splVertical->setSizes({m_topPanelHeight, 700 - m_topPanelHeight});
    ui->splVertical->setStretchFactor(0, 0);
    ui->splVertical->setStretchFactor(1, 1);
    fitTopPanelToFont();
    ui->splBLR->setSizes({618, 900 - 618});
    ui->splBLR->setStretchFactor(0, 0);
    ui->splBLR->setStretchFactor(1, 1);

    // Status bar with five panels of 50 pixels until the first resize shares
    // the width out.
    m_statusBar = new StatusPanels(5, 50, ui->centralwidget);
    ui->centralLayout->addWidget(m_statusBar);

    // Menu pictures: font, help, about, (spare), proxy. Looked up when the
    // menu first opens: the style searches the icon theme on disk for them
    // (5 ms under X11), which the first paint need not wait for.
    connect(ui->mniMenu, &QMenu::aboutToShow, this, [this] {
        if (!m_ilMenuIcons.isEmpty())
            return;
        QStyle* s = style();
        m_ilMenuIcons = {s->standardIcon(QStyle::SP_FileDialogDetailedView),
                         s->standardIcon(QStyle::SP_DialogHelpButton),
                         s->standardIcon(QStyle::SP_MessageBoxInformation),
                         s->standardIcon(QStyle::SP_FileIcon),
                         s->standardIcon(QStyle::SP_DriveNetIcon)};
        ui->mniProxy->setIcon(m_ilMenuIcons[4]);
        ui->mniSetFormFont->setIcon(m_ilMenuIcons[0]);
        ui->mniHelp->setIcon(m_ilMenuIcons[1]);
        ui->mniAbout->setIcon(m_ilMenuIcons[2]);
    });

    // The tools menu is shown: its cookie commands reach only the program's
    // own browser profile.
    ui->mniTools->menuAction()->setVisible(true);

    m_pmLvwHeaders = new QMenu(this);
    m_pmLvwHeaders->setObjectName(QStringLiteral("pmLvwHeaders"));
    m_pmLvwHeaders->addActions({ui->mniAddReqHeader, ui->mniEditReqHeader, ui->mniDelReqHeader,
                                ui->mniDelReqHeaderClear, ui->mniReqHeaderImportFromClipbrd});

    // The proxy indicator, grey as designed; it moves into the status bar below.
    imgStaBar = new QLabel(ui->pnlBot);
    imgStaBar->setObjectName(QStringLiteral("imgStaBar"));
    imgStaBar->setScaledContents(true);
    imgStaBar->setPixmap(
        QPixmap(ProgramResources::pathOf(QStringLiteral("BMP_EARTHGY"), QStringLiteral("BITMAP"))));
    imgStaBar->resize(32, 32);
    imgStaBar->hide();

    setTabOrder(ui->edtUrl, ui->cbbMethod);
    setTabOrder(ui->cbbMethod, ui->btnSendReqest);
    setTabOrder(ui->btnSendReqest, ui->chkGetRespCookie);
    setTabOrder(ui->chkGetRespCookie, ui->cbbResultType);
    setTabOrder(ui->cbbResultType, ui->cbbComponent);
    setTabOrder(ui->cbbComponent, ui->btnSaveToFile);
    setTabOrder(ui->btnSaveToFile, ui->chkUseProxy);
    setTabOrder(ui->chkUseProxy, ui->edtData);
    setTabOrder(ui->edtData, ui->lvwHeaders);
    setTabOrder(ui->lvwHeaders, ui->mmoHtml);
    setTabOrder(ui->mmoHtml, ui->mmoRespHeaders);

    bindHandlers();
    attachResponseDetails();
    FormCreate();
}

TFrmMain::~TFrmMain() = default;

void TFrmMain::FormCreate()
{
    setWindowTitle(QStringLiteral("Http测试工具 Reqlark v") + GetAppVersion() +
                   QString::fromUtf8(kCreditLine));
    // Paths, settings handle and the guarded load, then the indicator.
    guarded([this] { openSettings(); });
    placeProxyIndicator();
    // Shown centred on the screen at the size the settings gave.
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFrmMain::placeProxyIndicator()
{
    const int side = m_statusBar->height() - 4;
    imgStaBar->setParent(m_statusBar);
    imgStaBar->setGeometry(5, 2, side, side);
    imgStaBar->show();
}

void TFrmMain::bindHandlers()
{
    const auto bind = [this](QAction* action, void (TFrmMain::*handler)()) {
        connect(action, &QAction::triggered, this,
                [this, handler] { guarded([=] { (this->*handler)(); }); });
    };
    connect(ui->btnSendReqest, &QPushButton::clicked, this,
            [this] { guarded([this] { btnSendReqestClick(); }); });
    connect(ui->btnSaveToFile, &QPushButton::clicked, this,
            [this] { guarded([this] { btnSaveToFileClick(); }); });
    connect(ui->cbbResultType, &QComboBox::activated, this,
            [this] { guarded([this] { cbbResultTypeClick(); }); });
    // Runs on every change of the tick, by the user or by the settings load.
    connect(ui->chkUseProxy, &QCheckBox::toggled, this,
            [this] { guarded([this] { chkUseProxyClick(); }); });
    connect(m_browserPane, &BrowserPane::documentComplete, this,
            [this] { guarded([this] { wb1DocumentComplete(); }); });
    connect(ui->lvwHeaders, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        m_pmLvwHeaders->popup(ui->lvwHeaders->viewport()->mapToGlobal(at));
    });

    bind(ui->mniAddReqHeader, &TFrmMain::mniAddReqHeaderClick);
    bind(ui->mniEditReqHeader, &TFrmMain::mniEditReqHeaderClick);
    bind(ui->mniDelReqHeader, &TFrmMain::mniDelReqHeaderClick);
    bind(ui->mniDelReqHeaderClear, &TFrmMain::mniDelReqHeaderClearClick);
    bind(ui->mniReqHeaderImportFromClipbrd, &TFrmMain::mniReqHeaderImportFromClipbrdClick);
    bind(ui->mniProxy, &TFrmMain::mniProxyClick);
    bind(ui->mniFontUI, &TFrmMain::mniFontUIClick);
    bind(ui->mniFontHTML, &TFrmMain::mniFontHTMLClick);
    bind(ui->mniHelp, &TFrmMain::mniHelpClick);
    bind(ui->mniAbout, &TFrmMain::mniAboutClick);
    bind(ui->mniDelCurrCookie, &TFrmMain::mniDelCurrCookieClick);
    bind(ui->mniClearIECookies, &TFrmMain::mniClearIECookiesClick);

    ui->edtUrl->installEventFilter(this);
    ui->edtData->installEventFilter(this);
    ui->lvwHeaders->installEventFilter(this);
    ui->lvwHeaders->viewport()->installEventFilter(this);
    ui->mmoHtml->installEventFilter(this);
    ui->mmoHtml->viewport()->installEventFilter(this);
    ui->pnlBot->installEventFilter(this);
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        bool handled = false;
        if (watched == ui->edtUrl)
            guarded([&] { handled = edtUrlKeyDown(key); });
        else if (watched == ui->lvwHeaders)
            guarded([&] { handled = lvwHeadersKeyDown(key); });
        else if (watched == ui->mmoHtml)
            guarded([&] { handled = mmoHtmlKeyDown(key); });
        if (handled)
            return true;
    } else if (type == QEvent::MouseButtonDblClick) {
        if (watched == ui->edtUrl) {
            guarded([this] { edtUrlDblClick(); });
            return true;
        }
        if (watched == ui->edtData) {
            guarded([this] { edtDataDblClick(); });
            return true;
        }
        if (watched == ui->lvwHeaders->viewport()) {
            const quint64 time = static_cast<QMouseEvent*>(event)->timestamp();
            guarded([this, time] {
                restoreHeaderRowClearedBy(time);
                lvwHeadersDblClick();
            });
            return true;
        }
        if (watched == ui->mmoHtml->viewport())
            guarded([this] { mmoHtmlDblClick(); });
    } else if (type == QEvent::MouseButtonPress && watched == ui->lvwHeaders->viewport()) {
        noteHeaderListPress(static_cast<QMouseEvent*>(event));
    } else if (type == QEvent::Resize && watched == ui->pnlBot) {
        pnlBotResize();
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFrmMain::guarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const HttpCancelled&) {
        // The user asked for it; the status bar says so.
    } catch (const ReqlarkError& e) {
        m_prompter->showError(withFullStop(e.message()));
    } catch (const std::bad_alloc&) {
        m_prompter->showError(withFullStop(QStringLiteral("内存不足")));
    } catch (const std::exception& e) {
        m_prompter->showError(withFullStop(QString::fromLocal8Bit(e.what())));
    }
}

void TFrmMain::setPanelText(int panel, const QString& text)
{
    m_statusBar->setText(panel, text);
}

QString TFrmMain::panelText(int panel) const
{
    return m_statusBar->text(panel);
}

int TFrmMain::IndexOfReqHeader(const QByteArray& name) const
{
    return m_headers->IndexOfReqHeader(name);
}

bool TFrmMain::AddReqHeader(const QByteArray& name, const QByteArray& value)
{
    return m_headers->AddReqHeader(name, value);
}

void TFrmMain::DelReqHeaderByName(const QByteArray& name)
{
    m_headers->DelReqHeaderByName(name);
}

void TFrmMain::closeEvent(QCloseEvent* event)
{
    // A request under way is cancelled first; the window closes as soon as
    // the request's handler has returned, so nothing is torn down under it.
    if (requestRunning()) {
        m_closeAfterRequest = true;
        cancelRequest();
        event->ignore();
        return;
    }
    // FormClose: the settings and the header list are written; a write that
    // fails is reported and the window still closes, so the program can
    // always be ended.
    guarded([this] { SaveSettings(); });
    event->accept();
}

void TFrmMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TFrmMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // By now every control that follows the window has the new font.
    if (event->type() == QEvent::FontChange)
        fitTopPanelToFont();
}

void TFrmMain::fitTopPanelToFont()
{
    if (!m_topAnchors)
        return; // a font given while the window is being built
    QTableView* list = ui->lvwHeaders;
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
    const TopPanelLayout::Arrangement fit =
        TopPanelLayout::arrange(m_topDesign, TopPanelLayout::needsOf(m_topControls));
    m_topAnchors->setDesignSize(QSize(m_topDesign.panel.width(), fit.panelHeight));
    TopPanelLayout::forEach(m_topControls, fit.places,
                            [this](QWidget* control, const QRect& place) {
                                if (control->parentWidget() == ui->pnlTop)
                                    m_topAnchors->setDesign(control, place);
                                else
                                    control->setGeometry(place);
                            });
    m_topAnchors->apply();

    // The splitter gives the panel the height it now needs; a panel the fit
    // had sized follows it back down, one the user sized otherwise stays.
    ui->pnlTop->setMinimumHeight(fit.minimumHeight);
    const QList<int> sizes = ui->splVertical->sizes();
    if (sizes.size() == 2 && (sizes[0] < fit.panelHeight || sizes[0] == m_topPanelHeight)) {
        const int total = sizes[0] + sizes[1];
        ui->splVertical->setSizes({fit.panelHeight, std::max(1, total - fit.panelHeight)});
    }
    m_topPanelHeight = fit.panelHeight;
}

void TFrmMain::FormResize()
{
    const int panels = m_statusBar->count();
    const int share = (width() - m_statusBar->panelWidth(0)) / (panels - 1);
    for (int i = 1; i < panels; ++i)
        m_statusBar->setPanelWidth(i, share);
    placeBrowser();
}

void TFrmMain::pnlBotResize()
{
    placeBrowser();
}
