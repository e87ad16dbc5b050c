#pragma once
// Result numbers of the media-command service: 0 or the Windows media-control
// error numbers (256 + n), so that callers written against mciSendString see
// the values they expect.
namespace mcierr {
constexpr int Ok = 0;
constexpr int UnrecognizedKeyword = 259;
constexpr int UnrecognizedCommand = 261;
constexpr int Hardware = 262;              // the audio device cannot be opened
constexpr int InvalidDeviceName = 263;     // unknown alias or unknown device type
constexpr int OutOfMemory = 264;
constexpr int CannotLoadDriver = 266;      // the MIDI synthesiser has no soundfont
constexpr int MissingCommandString = 267;
constexpr int MissingStringArgument = 269;
constexpr int BadInteger = 270;
constexpr int FileNotFound = 275;
constexpr int UnsupportedFunction = 274;
constexpr int OutOfRange = 282;
constexpr int DuplicateAlias = 289;
constexpr int MissingDeviceName = 292;
constexpr int NoClosingQuote = 294;
constexpr int DuplicateFlags = 295;
constexpr int InvalidFile = 296;
constexpr int FilenameRequired = 304;
constexpr int ExtraCharacters = 305;       // text straight after a closing quote
}
