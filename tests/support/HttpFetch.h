// A plain HTTP exchange with a server on 127.0.0.1, for the metrics tests: the request's
// bytes as given, the answer's bytes until the server closes (or the time is up).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

std::string httpExchange(std::uint16_t port, const std::vector<std::string>& pieces,
                         std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

// GET path with Connection: close; the whole answer, head included.
std::string httpGet(std::uint16_t port, const std::string& path);

// The body of an answer (after the empty line).
std::string httpBody(const std::string& answer);
