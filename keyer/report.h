// Standard error, shared by the keyer's threads. Messages about an item (an
// input, a frame) come out in the order of the items, whichever thread says
// them and when; the progress bar keeps one line below the messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tav::cli {

// The item of what is said after all the items.
constexpr size_t kAfterItems = SIZE_MAX;

// Whole lines about item `item`: printed at once when every earlier item is
// finished (or it is kAfterItems), otherwise held until then.
void Say(size_t item, const std::string& lines);
// Item `item` has nothing more to say. Items finish in their order.
void Finish(size_t item);
// Whole lines about none of the items, printed at once.
void SayNow(const std::string& lines);

// Draws the progress bar's line (no line feed), replacing the one drawn
// before; messages printed while it is up appear above it.
void ShowBar(const std::string& line);
// The bar of item `item` is done: its line stays as it stands, in the
// item's place among the messages (while earlier items are still to
// finish, it is taken down and printed again when they have).
void EndBar(size_t item);

}  // namespace tav::cli
