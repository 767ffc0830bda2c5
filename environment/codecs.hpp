// The codec registry system/codecs: environment/system.kel makes the system
// object and registers the codec objects; the routines they hold are C++.
#pragma once

namespace kel::environment {

// Gives the kelbin codec object its routines encode* and decode. Runs after
// the boot sources, which made the object with those fields none.
void make_codec_routines();

}  // namespace kel::environment
