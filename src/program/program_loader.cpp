#include "program_loader.h"

#include "loader/network_loader.h"
#include "state/program_state.h"

bool loadNetwork(std::streambuf& in) {
    load_error = readNetwork(in, program_network, {}, &problem_type);
    return load_error.empty();
}

void readFile() {
    loadNetwork(*myFile.rdbuf());
    myFile.close();
}
