#pragma once

#include <stdexcept>

// A connection that could not be opened: the server text is not usable, the host does not
// answer, or the login is refused.
class CInternetException : public std::runtime_error {
public:
    // Codes are libcurl's; kRefusedInput marks text that was not sent at all.
    static constexpr int kRefusedInput = -1;

    explicit CInternetException(int error);

    int m_dwError;
};
