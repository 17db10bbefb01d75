#include "media/mci/mci.h"

namespace plimra::mci {

std::string errorText(uint32_t code) {
  switch (code) {
    case err::None: return "no error";
    case err::InvalidDeviceId: return "invalid device id";
    case err::UnrecognizedKeyword: return "unrecognized keyword";
    case err::UnrecognizedCommand: return "unrecognized command";
    case err::Hardware: return "hardware error";
    case err::InvalidDeviceName: return "device not open or not known";
    case err::OutOfMemory: return "out of memory";
    case err::DeviceOpen: return "device name already in use";
    case err::CannotLoadDriver: return "cannot load driver";
    case err::MissingCommandString: return "missing command";
    case err::ParamOverflow: return "reply does not fit";
    case err::MissingStringArgument: return "missing text argument";
    case err::BadInteger: return "bad number";
    case err::ParserInternal: return "parser error";
    case err::DriverInternal: return "driver error";
    case err::MissingParameter: return "missing parameter";
    case err::UnsupportedFunction: return "not supported by this device";
    case err::FileNotFound: return "file not found";
    case err::DeviceNotReady: return "device not ready";
    case err::Internal: return "internal error";
    case err::Driver: return "driver error";
    case err::OutOfRange: return "value out of range";
    case err::FlagsNotCompatible: return "parameters cannot be used together";
    case err::BadConstant: return "unknown value";
    case err::MissingDeviceName: return "missing device name";
    case err::BadTimeFormat: return "time format not supported";
    case err::NoClosingQuote: return "missing closing quote";
    case err::DuplicateFlags: return "parameter given twice";
    case err::InvalidFile: return "file cannot be played";
    case err::NonapplicableFunction: return "not possible in this mode";
    case err::FilenameRequired: return "file name required";
    case err::ExtraCharacters: return "extra words";
    case err::DeviceNotInstalled: return "device type not installed";
    case err::NoInteger: return "a number was expected";
    case err::SeqPortInUse: return "MIDI port in use";
    case err::SeqPortNonexistent: return "no such MIDI port";
    case err::SeqPortMiscError: return "MIDI port error";
    case err::SeqNoMidiPresent: return "no MIDI output";
    case err::FileRead: return "file cannot be read";
    default: return "error " + std::to_string(code);
  }
}

}  // namespace plimra::mci
