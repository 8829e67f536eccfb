#include "dataescapes.h"

namespace tamrisk {

std::string TranslateDataEscapes(std::string_view data) {
    std::string out;
    out.reserve(data.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '\\' && i + 1 < data.size() && (data[i + 1] == 't' || data[i + 1] == 'n')) {
            out.push_back(data[i + 1] == 't' ? '\t' : '\n');
            ++i;
        } else {
            out.push_back(data[i]);
        }
    }
    return out;
}

}  // namespace tamrisk
