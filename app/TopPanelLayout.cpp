#include "app/TopPanelLayout.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QStyle>
#include <QTableView>

#include <algorithm>
#include <array>

namespace TopPanelLayout {

namespace {

int growth(int need, int designed)
{
    return std::max(0, need - designed);
}

int endX(const QRect& r)
{
    return r.left() + r.width();
}

int endY(const QRect& r)
{
    return r.top() + r.height();
}

// The designed place, grown to the need where it falls short.
QRect atLeast(const QRect& designed, const QSize& need)
{
    return QRect(designed.topLeft(), designed.size().expandedTo(need));
}

template <class T> std::array<T*, 14> fields(PerControl<T>& all)
{
    return {&all.lblUrl,           &all.Label1,        &all.lblHeaders,    &all.edtUrl,
            &all.edtData,          &all.lvwHeaders,    &all.grpBtns,       &all.cbbComponent,
            &all.cbbMethod,        &all.btnSaveToFile, &all.cbbResultType, &all.btnSendReqest,
            &all.chkGetRespCookie, &all.chkUseProxy};
}

template <class U, class F> PerControl<U> mapped(const Controls& controls, F f)
{
    PerControl<U> out;
    const std::array<U*, 14> to = fields(out);
    size_t i = 0;
    forEach(controls, Places(), [&](QWidget* control, const QRect&) { *to[i++] = f(control); });
    return out;
}

// A check box's own size hint adds the style's margins around the indicator;
// what its text needs is the indicator, the text beside it, and a line.
QSize checkBoxNeed(const QWidget* box)
{
    const int indicator = box->style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, box);
    return QSize(box->sizeHint().width(), std::max(indicator, box->fontMetrics().height()));
}

} // namespace

void forEach(const Controls& controls, const Places& places,
             const std::function<void(QWidget*, const QRect&)>& f)
{
    Controls c = controls;
    Places p = places;
    const std::array<QWidget**, 14> control = fields(c);
    const std::array<QRect*, 14> place = fields(p);
    for (size_t i = 0; i < control.size(); ++i)
        f(*control[i], *place[i]);
}

Places placesOf(const Controls& controls)
{
    return mapped<QRect>(controls, [](QWidget* w) { return w->geometry(); });
}

Needs needsOf(const Controls& controls)
{
    Needs needs = mapped<QSize>(controls, [](QWidget* w) { return w->sizeHint(); });
    needs.chkGetRespCookie = checkBoxNeed(controls.chkGetRespCookie);
    needs.chkUseProxy = checkBoxNeed(controls.chkUseProxy);
    needs.grpBtns = QSize();
    const auto* list = static_cast<const QTableView*>(controls.lvwHeaders);
    needs.lvwHeaders =
        QSize(0, 2 * list->frameWidth() + list->horizontalHeader()->sizeHint().height() +
                     2 * list->verticalHeader()->defaultSectionSize());
    return needs;
}

Arrangement arrange(const Design& design, const Needs& needs)
{
    const Places& d = design.places;
    Arrangement result;
    Places& p = result.places;

    // The labels' column and the two rows of edits.
    const int labelsGrow = std::max({growth(needs.lblUrl.width(), d.lblUrl.width()),
                                     growth(needs.Label1.width(), d.Label1.width()),
                                     growth(needs.lblHeaders.width(), d.lblHeaders.width())});
    const int rowGrow = std::max(growth(needs.edtUrl.height(), d.edtUrl.height()),
                                 growth(needs.edtData.height(), d.edtData.height()));
    p.lblUrl = atLeast(d.lblUrl, needs.lblUrl);
    p.Label1 = atLeast(d.Label1, needs.Label1);
    p.lblHeaders = atLeast(d.lblHeaders, needs.lblHeaders);
    // A label stays centred beside its edit, the stacked one in its column.
    p.lblUrl.moveTop(d.lblUrl.top() + (rowGrow - (p.lblUrl.height() - d.lblUrl.height())) / 2);
    p.Label1.moveTop(d.Label1.top() + rowGrow +
                     (rowGrow - (p.Label1.height() - d.Label1.height())) / 2);
    const int listTop = d.lvwHeaders.top() + 2 * rowGrow;
    p.lblHeaders.moveLeft(d.lblHeaders.left() + labelsGrow / 2 -
                          (p.lblHeaders.width() - d.lblHeaders.width()) / 2);
    p.lblHeaders.moveTop(
        std::max(listTop, d.lblHeaders.top() + 2 * rowGrow -
                              (p.lblHeaders.height() - d.lblHeaders.height()) / 2));

    // The group: a left column of lists and check boxes, a right one of
    // buttons, and the component list across both above them.
    const int leftGrow =
        std::max({growth(needs.cbbMethod.width(), d.cbbMethod.width()),
                  growth(needs.cbbResultType.width(), d.cbbResultType.width()),
                  growth(needs.chkGetRespCookie.width(), d.chkGetRespCookie.width()),
                  growth(needs.chkUseProxy.width(), d.chkUseProxy.width())});
    const int listGrow = std::max({growth(needs.cbbComponent.height(), d.cbbComponent.height()),
                                   growth(needs.cbbMethod.height(), d.cbbMethod.height()),
                                   growth(needs.cbbResultType.height(), d.cbbResultType.height())});
    const auto list = [&](const QRect& designed, int down) {
        return QRect(designed.left(), designed.top() + down, designed.width() + leftGrow,
                     designed.height() + listGrow);
    };
    const auto button = [&](const QRect& designed, const QSize& need, int down) {
        return atLeast(designed, need).translated(leftGrow, down);
    };
    p.cbbMethod = list(d.cbbMethod, listGrow);
    p.btnSaveToFile = button(d.btnSaveToFile, needs.btnSaveToFile, listGrow);
    const int row3 =
        listGrow + std::max(listGrow, p.btnSaveToFile.height() - d.btnSaveToFile.height());
    p.cbbResultType = list(d.cbbResultType, row3);
    p.btnSendReqest = button(d.btnSendReqest, needs.btnSendReqest, row3);
    p.chkGetRespCookie =
        atLeast(d.chkGetRespCookie, needs.chkGetRespCookie).translated(0, row3 + listGrow);
    p.chkUseProxy = atLeast(d.chkUseProxy, needs.chkUseProxy)
                        .translated(0, row3 + listGrow + p.chkGetRespCookie.height() -
                                           d.chkGetRespCookie.height());
    const int componentEnd =
        std::max({endX(d.cbbComponent), d.cbbComponent.left() + needs.cbbComponent.width(),
                  endX(p.btnSaveToFile) + endX(d.cbbComponent) - endX(d.btnSaveToFile),
                  endX(p.btnSendReqest) + endX(d.cbbComponent) - endX(d.btnSendReqest)});
    p.cbbComponent =
        QRect(d.cbbComponent.left(), d.cbbComponent.top(), componentEnd - d.cbbComponent.left(),
              d.cbbComponent.height() + listGrow);
    const int groupWider = componentEnd - endX(d.cbbComponent);
    const int groupTaller = std::max({0, endY(p.btnSendReqest) - endY(d.btnSendReqest),
                                      endY(p.chkUseProxy) - endY(d.chkUseProxy)});
    p.grpBtns = d.grpBtns.adjusted(-groupWider, 0, 0, groupTaller);

    // The edits and the list take what the labels and the group leave.
    const int narrower = labelsGrow + groupWider;
    p.edtUrl = QRect(d.edtUrl.left() + labelsGrow, d.edtUrl.top(), d.edtUrl.width() - narrower,
                     d.edtUrl.height() + rowGrow);
    p.edtData = QRect(d.edtData.left() + labelsGrow, d.edtData.top() + rowGrow,
                      d.edtData.width() - narrower, d.edtData.height() + rowGrow);

    // The panel grows to hold the group, a heading and two rows of the list,
    // and the stacked label beside the list.
    const int listMargin = design.panel.height() - endY(d.lvwHeaders);
    result.panelHeight = std::max({design.panel.height(), design.panel.height() + groupTaller,
                                   listTop + needs.lvwHeaders.height() + listMargin,
                                   endY(p.lblHeaders) + listMargin});
    p.lvwHeaders = QRect(d.lvwHeaders.left() + labelsGrow, listTop, d.lvwHeaders.width() - narrower,
                         result.panelHeight - listMargin - listTop);
    result.minimumHeight = design.minimumHeight + rowGrow;
    return result;
}

} // namespace TopPanelLayout
