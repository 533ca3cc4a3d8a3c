#include "program_state.h"

std::string user_filename;
std::fstream myFile;
std::ofstream ofs;

Network program_network;
std::string problem_type;
int32_t& num_nodes = program_network.nodes;
int32_t& num_arcs = program_network.arcs;
std::string load_error;

std::vector<int32_t>& point = program_network.point;
std::vector<int32_t>& graph_head = program_network.head;
std::vector<int32_t>& graph_length = program_network.length;

AlignedVector<int32_t> H;
std::vector<int64_t> H_key;
int32_t heap_count = 0;
std::vector<int64_t> d;
int32_t settled_count = 0;
int128 settled_sum = 0;
int32_t deleted_node = 0;
int32_t user_source_node = 0;
std::vector<int128> one_to_all_distance;
uint64_t my_timer = 0;

int64_t trivial_triple_comparisons = 0;
int128 nontrivial_triple_comparisons = 0;
int128 total_triple_comparisons = 0;
int128 triple_comparisons = 0;
