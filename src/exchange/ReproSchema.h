#pragma once
#include "Foreign.h"

namespace exchange {

// A ReproSchema activity: its JSON-LD schema file and the item files it names (ui.order, else
// ui.addProperties), read from the activity's own folder and never from the network. Each item
// with responseOptions.choices becomes a question, the choices' values its options' points;
// identical choice lists share one answer set. Texts are taken in Russian when the files have
// it, else in English, else in the first language given. Text and number inputs, several
// answers at once, branching (isVis), computed scores, remote addresses and the languages not
// taken are reported; a broken item file is named with the reason and left out. Refused when
// the activity cannot be read or no item is usable.
Brought fromReproSchema(const QString& activityPath);

} // namespace exchange
