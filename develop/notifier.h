#pragma once
// Status texts, progress values and user messages of the document: message
// boxes and the status bar in the GUI, stderr on the command line.
#include <string>

namespace ostel::develop {

class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void status(const std::string& text) {}
    virtual void progress(int percent) {}
    // A message the user must see (an error or warning box in the GUI).
    virtual void message(const std::string& text) {}
};

}  // namespace ostel::develop
