#pragma once
// Errors raised by the desktop services. A handler with an error trap catches
// RuntimeError (and CancelError, which is one); everything else reaches the
// application's top-level handler, which reports it and ends the program.
#include <stdexcept>
#include <string>

class RuntimeError : public std::runtime_error {
public:
    RuntimeError(int number, const std::string& description)
        : std::runtime_error(description), number_(number) {}
    int number() const { return number_; }

private:
    int number_;
};

// The user cancelled a common dialog.
class CancelError : public RuntimeError {
public:
    CancelError() : RuntimeError(32755, "キャンセルが選択されました。") {}
};

// Error numbers the program raises itself.
namespace ErrorNumber {
constexpr int InvalidPropertyValue = 380;
constexpr int InvalidPicture = 481;
constexpr int FileNotFound = 53;
constexpr int BadFileNameOrNumber = 52;
constexpr int PathFileAccess = 75;
constexpr int DiskFull = 61;
}
