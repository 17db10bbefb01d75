#include "app/module1.h"

namespace plimra::Module1 {

// The values before the MIDI window's start-up sets its defaults.
bool OptMin = false;
bool OptChange = false;
bool OptTime = false;
bool OptSingle = false;
bool OptContinue = false;
bool OptRandom = false;
QString OptReset;
plimra::mci::SeqSetParms SeqParms;

}  // namespace plimra::Module1
