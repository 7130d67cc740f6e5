/* A client written in C against the public headers, run by the activation tests. */
#ifndef HBTCOM_C_CLIENT_H
#define HBTCOM_C_CLIENT_H

#ifdef __cplusplus
extern "C" {
#endif

/* Activates the test server by its version-independent ProgID, calls it, frees what it
   returned, and releases everything. 0 on success, else the number of the step that failed. */
int run_c_client(void);

#ifdef __cplusplus
}
#endif

#endif
