/* A plain C caller of the points library, as a service in another language sees it: the
 * header alone, the library's exports, nothing of the project's C++. It opens a session on
 * the running driver, lists, reads, takes the change feed, writes a value and closes.
 * Returns 0 when every step did what it should, otherwise the number of the step that did
 * not. */
#include <stdio.h>
#include <string.h>

#include "hbt_points.h"

int points_c_client_run(const char* item_id, int write_value, char* error, size_t error_size) {
  hbt_points_options options;
  hbt_points* session = NULL;
  hbt_driver_state state;
  const hbt_device_info* devices = NULL;
  const hbt_record_info* records = NULL;
  const hbt_point_info* points = NULL;
  uint32_t generation = 0, device_count = 0, record_count = 0, point_count = 0, i, n = 0, more = 0;
  uint32_t id = UINT32_MAX;
  hbt_point_value value, batch[64], written;
  uint64_t cursor = 0;
  int32_t result = -1;
  int step = 0;

  memset(&options, 0, sizeof options);
  options.size = sizeof options;
  options.update_ms = 20;
  if (hbt_points_open(&options, &session) != HBT_POINTS_OK || session == NULL) {
    snprintf(error, error_size, "%s", hbt_points_last_error(NULL));
    return 1;
  }
  memset(&state, 0, sizeof state);
  state.size = sizeof state;
  if (hbt_points_state(session, &state) != HBT_POINTS_OK || !state.running || state.point_count == 0) step = 2;
  if (!step && hbt_points_list(session, &generation, &devices, &device_count, &records, &record_count, &points,
                               &point_count) != HBT_POINTS_OK)
    step = 3;
  if (!step && (generation != state.generation || device_count == 0 || record_count == 0)) step = 4;
  for (i = 0; !step && i < point_count; ++i)
    if (strcmp(points[i].item_id, item_id) == 0) id = i;
  if (!step && id == UINT32_MAX) step = 5;
  if (!step && (hbt_points_read(session, &id, 1, &value) != HBT_POINTS_OK || value.id != id)) step = 6;
  if (!step && hbt_points_changes(session, &cursor, batch, 64, &n, &more) != HBT_POINTS_OK) step = 7;
  if (!step && (n != (point_count < 64 ? point_count : 64) || cursor == 0)) step = 8;
  memset(&written, 0, sizeof written);
  written.id = id;
  written.type = HBT_POINT_INT32;
  written.integer = write_value;
  if (!step && (hbt_points_write(session, &written, 1, &result) != HBT_POINTS_OK || result != HBT_WRITE_OK)) step = 9;
  if (!step && hbt_points_changes(NULL, &cursor, batch, 64, &n, &more) != HBT_POINTS_E_ARGUMENT) step = 10;
  if (step) snprintf(error, error_size, "%s", hbt_points_last_error(session));
  hbt_points_close(session);
  return step;
}
