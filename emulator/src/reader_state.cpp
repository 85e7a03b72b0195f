#include "reader_state.h"

namespace q7msim {

ReaderState::ReaderState()
    : model("Q7M-SIM"),
      serial("000001"),
      mask{"Q7M-MASK", "01", 0x1A2B3C},
      loader{"Q7M-LOADER", "01", 0x000000},
      firmware{"Q7M-FW", "10", 0x12345678},
      icFirmware{"Q7M-ICFW", "02", 0x0000ABCD},
      samFirmware{"Q7M-SAMFW", "01", 0x00001234} {
  sensors = {50, 50, 50, 50};
}

}  // namespace q7msim
