// The codec-error bridge. Left to itself the codec ends the process on every error; the
// viewer installs this sink (behind a line formatter) so that each codec error instead
// leaves the raising code as a CJ2KException carrying the whole formatted message.
#pragma once

#include "codec/core/rvd_message.h"

#include <string>

class Orbel_Rvd_Error_Message : public rvd_message {
public:
    explicit Orbel_Rvd_Error_Message(bool throw_flag);
    ~Orbel_Rvd_Error_Message() noexcept(false) override;

    void put_text(const char16_t* text) override; // ignored
    void put_text(const char* text) override;      // collected
    // At the end of a message, hands the collected text on as a CJ2KException (when the
    // throw flag is set), leaving the collection empty for the next message.
    void flush(bool end_of_message = false) override;
    void start_message() override;

private:
    std::string collected_;
    bool throw_flag_;
};
