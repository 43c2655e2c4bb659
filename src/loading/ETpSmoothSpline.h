#pragma once

#include <stdexcept>
#include <string>

// Raised by TpSmoothSpline for bad input ("Incorrect input array.", "Incorrect boundary
// condition.", "Incorrect argument.").
class ETpSmoothSpline : public std::runtime_error {
public:
    explicit ETpSmoothSpline(const std::string& message) : std::runtime_error(message) {}
};
