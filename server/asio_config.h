// Standalone Asio, header-only, without exceptions in our own code paths.
#pragma once
#ifndef ASIO_STANDALONE
#define ASIO_STANDALONE
#endif
#include <asio.hpp>
