#pragma once

#include <QString>
#include <cstdint>

class TEbayCategory final {
public:
    QString Name;
    int32_t CategoryId = 0;
};
