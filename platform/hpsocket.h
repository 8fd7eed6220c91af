// The network library's functions and handler shapes as the program uses
// them: the C declarations come from the library's own header (handles are
// pointer-sized), and REZ_HPSOCKET_ENTRIES lists every function the program
// reaches through the library-entry table, one X(library, name) per function.
// Adding a function the bindings call is one line here.
#ifndef REZ_PLATFORM_HPSOCKET_H_
#define REZ_PLATFORM_HPSOCKET_H_

#include "libs/hpsocket4c/include/hpsocket4c.h"

// Opaque values of the network interface; 0 means none.
using ListenerHandle = HP_HttpServerListener;
using ServerHandle = HP_HttpServer;
using ConnectionId = HP_CONNID;
using PoolHandle = HP_ThreadPool;

#define REZ_HPSOCKET_ENTRIES(X)                               \
  X(kHpSocketLibrary, Create_HP_HttpServerListener)           \
  X(kHpSocketLibrary, Destroy_HP_HttpServerListener)          \
  X(kHpSocketLibrary, Create_HP_HttpServer)                   \
  X(kHpSocketLibrary, Destroy_HP_HttpServer)                  \
  X(kHpSocketLibrary, Create_HP_HttpsServer)                  \
  X(kHpSocketLibrary, Destroy_HP_HttpsServer)                 \
  X(kHpSocketLibrary, HP_Server_Start)                        \
  X(kHpSocketLibrary, HP_Server_Stop)                         \
  X(kHpSocketLibrary, HP_Set_FN_HttpServer_OnAccept)          \
  X(kHpSocketLibrary, HP_Set_FN_HttpServer_OnClose)           \
  X(kHpSocketLibrary, HP_Set_FN_HttpServer_OnBody)            \
  X(kHpSocketLibrary, HP_Set_FN_HttpServer_OnHeadersComplete) \
  X(kHpSocketLibrary, HP_Set_FN_HttpServer_OnMessageComplete) \
  X(kHpSocketLibrary, HP_Server_SetConnectionExtra)           \
  X(kHpSocketLibrary, HP_Server_GetConnectionExtra)           \
  X(kHpSocketLibrary, HP_HttpServer_GetUrlField)              \
  X(kHpSocketLibrary, HP_HttpServer_GetMethod)                \
  X(kHpSocketLibrary, HP_HttpServer_GetHeader)                \
  X(kHpSocketLibrary, HP_HttpServer_GetAllHeaders)            \
  X(kHpSocketLibrary, HP_HttpServer_SendResponse)             \
  X(kHpSocketLibrary, Create_HP_ThreadPool)                   \
  X(kHpSocketLibrary, Destroy_HP_ThreadPool)                  \
  X(kHpSocketLibrary, HP_ThreadPool_Start)                    \
  X(kHpSocketLibrary, HP_ThreadPool_Stop)                     \
  X(kHpSocketLibrary, Create_HP_SocketTaskObj)                \
  X(kHpSocketLibrary, Destroy_HP_SocketTaskObj)               \
  X(kHpSocketLibrary, HP_ThreadPool_Submit_Task)              \
  X(kHpSocketLibrary, HP_ThreadPool_Wait)

#endif  // REZ_PLATFORM_HPSOCKET_H_
