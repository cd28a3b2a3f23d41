#pragma once

#include <QRect>
#include <QSize>

#include <functional>

class QWidget;

// Where the controls of the main window's top panel go at the interface font
// in use. Every control keeps its designed place while its text fits there; a
// control whose text needs more room grows, and the controls after it (to its
// right, or below it) move along by as much, so that nothing is clipped and
// nothing overlaps. The group box with the buttons keeps its right edge and
// grows to the left and downwards; the edits and the header list give it the
// width.
namespace TopPanelLayout {

// One value per control: its place, the room its text needs, or the control.
template <class T> struct PerControl
{
    T lblUrl{}, Label1{}, lblHeaders{}, edtUrl{}, edtData{}, lvwHeaders{}, grpBtns{};
    // inside grpBtns
    T cbbComponent{}, cbbMethod{}, btnSaveToFile{}, cbbResultType{}, btnSendReqest{};
    T chkGetRespCookie{}, chkUseProxy{};
};
using Controls = PerControl<QWidget*>;
// Places in the top panel (the group's own controls: in the group) when the
// panel has the design width and the height that goes with them.
using Places = PerControl<QRect>;
// For the edits only the height counts; for the header list, its heading and
// two rows; the group's own size is not a need.
using Needs = PerControl<QSize>;

struct Design
{
    Places places;
    QSize panel;           // the panel's size the places are given for
    int minimumHeight = 0; // the panel's least height, the first row showing
};

struct Arrangement
{
    Places places;
    int panelHeight = 0;   // the panel's height the places are given for
    int minimumHeight = 0; // the first row (the URL) still shows
};

// The places the controls have now, taken as the design.
Places placesOf(const Controls& controls);
// What the controls' texts need at the fonts they have.
Needs needsOf(const Controls& controls);

Arrangement arrange(const Design& design, const Needs& needs);

// Calls `f` with each control and its place.
void forEach(const Controls& controls, const Places& places,
             const std::function<void(QWidget*, const QRect&)>& f);

} // namespace TopPanelLayout
