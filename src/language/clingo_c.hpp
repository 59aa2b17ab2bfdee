#pragma once
// The part of clingo's C interface that the solver binding calls. The installed library ships no
// header, so the declarations live here, written against the library's ABI (5.4 and later).

#include <cstddef>
#include <cstdint>

extern "C" {

using clingo_symbol_t = std::uint64_t;
using clingo_literal_t = std::int32_t;
using clingo_error_t = int;
using clingo_warning_t = int;
using clingo_solve_mode_bitset_t = unsigned;
using clingo_show_type_bitset_t = unsigned;
using clingo_solve_event_type_t = unsigned;

enum : clingo_error_t {
  clingo_error_success = 0,
  clingo_error_runtime = 1,
  clingo_error_logic = 2,
  clingo_error_bad_alloc = 3,
  clingo_error_unknown = 4,
};

// The kind of a logged message: errors in the program come as runtime errors; the others are
// warnings and notes.
enum : clingo_warning_t {
  clingo_warning_runtime_error = 1,
};

enum : clingo_solve_mode_bitset_t {
  clingo_solve_mode_yield = 2,
};

// Show types select the symbols of a model. 4 gives the true atoms, facts included. 63 sets every
// kind together with the complement flag (16 in 5.4, 32 later), which gives the false atoms.
enum : clingo_show_type_bitset_t {
  clingo_show_type_atoms = 4,
  clingo_show_type_all_complemented = 63,
};

struct clingo_part_t {
  const char* name;
  const clingo_symbol_t* params;
  std::size_t size;
};

struct clingo_location_t {
  const char* begin_file;
  const char* end_file;
  std::size_t begin_line;
  std::size_t end_line;
  std::size_t begin_column;
  std::size_t end_column;
};

struct clingo_control;
struct clingo_solve_handle;
struct clingo_model;
using clingo_control_t = clingo_control;
using clingo_solve_handle_t = clingo_solve_handle;
using clingo_model_t = clingo_model;

using clingo_logger_t = void(clingo_warning_t code, const char* message, void* data);
using clingo_symbol_callback_t = bool(const clingo_symbol_t* symbols, std::size_t symbols_size,
                                      void* data);
using clingo_ground_callback_t = bool(const clingo_location_t* location, const char* name,
                                      const clingo_symbol_t* arguments, std::size_t arguments_size,
                                      void* data, clingo_symbol_callback_t* symbol_callback,
                                      void* symbol_callback_data);
using clingo_solve_event_callback_t = bool(clingo_solve_event_type_t type, void* event, void* data,
                                           bool* goon);

bool clingo_control_new(const char* const* arguments, std::size_t arguments_size,
                        clingo_logger_t* logger, void* logger_data, unsigned message_limit,
                        clingo_control_t** control);
void clingo_control_free(clingo_control_t* control);
bool clingo_control_add(clingo_control_t* control, const char* name, const char* const* parameters,
                        std::size_t parameters_size, const char* program);
bool clingo_add_string(const char* string, const char** result);
bool clingo_control_ground(clingo_control_t* control, const clingo_part_t* parts,
                           std::size_t parts_size, clingo_ground_callback_t* ground_callback,
                           void* ground_callback_data);
bool clingo_control_solve(clingo_control_t* control, clingo_solve_mode_bitset_t mode,
                          const clingo_literal_t* assumptions, std::size_t assumptions_size,
                          clingo_solve_event_callback_t* notify, void* data,
                          clingo_solve_handle_t** handle);

bool clingo_solve_handle_resume(clingo_solve_handle_t* handle);
// A null model means that the search is complete.
bool clingo_solve_handle_model(clingo_solve_handle_t* handle, const clingo_model_t** model);
bool clingo_solve_handle_close(clingo_solve_handle_t* handle);

bool clingo_model_symbols_size(const clingo_model_t* model, clingo_show_type_bitset_t show,
                               std::size_t* size);
bool clingo_model_symbols(const clingo_model_t* model, clingo_show_type_bitset_t show,
                          clingo_symbol_t* symbols, std::size_t size);

// The size counts the terminating NUL.
bool clingo_symbol_to_string_size(clingo_symbol_t symbol, std::size_t* size);
bool clingo_symbol_to_string(clingo_symbol_t symbol, char* string, std::size_t size);

clingo_error_t clingo_error_code(void);
const char* clingo_error_message(void);
void clingo_version(int* major, int* minor, int* revision);

}  // extern "C"
