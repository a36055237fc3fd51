#pragma once
// Where the palm detector looks closely for the hands of people at room
// distance: the whole picture letterboxed into its 192-pixel input shows such
// a hand a few pixels wide, below what it finds. Pure arithmetic on plain
// data; the runs live in hands.cpp.
#include <optional>
#include <vector>

#include "platform/vision/dnn/blazeface.h"
#include "platform/vision/dnn/detection_geometry.h"

namespace kestrel::vision::dnn {

// The palm side, in detector pixels, that a window aims to show a person's
// palm at: the detector finds palms from about 20 pixels, and a palm may be
// a third smaller than its person's box suggests.
inline constexpr double kPalmInView = 26;
// Windows are never finer than this (picture pixels per detector pixel):
// enlarging further adds no detail.
inline constexpr double kFinestWindow = 0.75;
// A person whose palms would be under this many picture pixels gets no
// window: too small for the detector even enlarged (a crowd's far people).
inline constexpr double kSmallestPalm = 12;

// A person's palm side in picture pixels, from their box: 0.08 of the box's
// geometric mean side (standing, sitting and reaching people alike, within
// about a third).
double palmSide(const Corners& person);

// The part of the picture a person's palms may lie in: the box, from one palm
// above it to four fifths down it (hands hang no lower; a sitting person's
// rest on the knees), one palm wider on either side.
Corners handReach(const Corners& person);

// Squares (picture pixels, each scaled to a `side` detector input) that show
// the palms of these people at about kPalmInView detector pixels: each
// person's reach is covered at their own scale (palmSide / kPalmInView, at
// least kFinestWindow), grown by a palm so that a palm centred at its edge
// shows whole, by one window where it fits, else by windows that overlap by
// one and a half palms so that every palm lies whole in one. People whose
// palms are under kSmallestPalm get none. A window also covers the later
// reaches of its scale or coarser that it holds whole, starting from the
// reach nearest the top left; windows stay inside the picture where they can.
// (The whole picture letterboxed shows a person's palm at kPalmInView only
// when the person is larger than the picture: it never spares a window.)
std::vector<Tile> handWindows(const std::vector<Corners>& people, int width, int height, double side);

// A stream's main person among people boxes (at least one): the largest box
// that holds the main face's centre, else the largest box.
Corners mainPerson(const std::vector<Corners>& people, const std::optional<PixelPoint>& face);

// Whether a point lies in the reach of any of these people.
bool inReach(const std::vector<Corners>& people, PixelPoint p);

}  // namespace kestrel::vision::dnn
