#include "session/program_values.h"

namespace brevan {

ProgramValues& Program() {
  static ProgramValues values;
  return values;
}

}  // namespace brevan
