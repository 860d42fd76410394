#include "host_values.hpp"
