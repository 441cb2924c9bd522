// Opening and closing readers. Product port numbers of the serial readers
// count from 1 (COM1), the core's from 0; the other ports are the same.
#include "kx_core.h"
#include "product_api/product_trace.h"
#include "qm_reader.h"

namespace {

constexpr char kPortError[] = "\xB6\xCB\xBF\xDA\xB4\xED\xCE\xF3\n";            // 端口错误
constexpr char kInitError[] = "\xB3\xF5\xCA\xBC\xBB\xAF\xB4\xED\xCE\xF3\n";    // 初始化错误
constexpr int16_t kFirstUsbPort = 100;

}  // namespace

QM_API int32_t qm_init(int16_t port, int32_t baud) {
  if (port <= 0) {
    FacadeTrace(kPortError);
    return -22;
  }
  const int32_t handle = kx_init(port < kFirstUsbPort ? int16_t(port - 1) : port, baud);
  if (handle < 0) FacadeTrace(kInitError);
  return handle;
}

QM_API int32_t qm_init_name(int16_t port, int32_t baud, const char* name) {
  return kx_init_name(port, baud, name);
}

QM_API int16_t qm_exit(int32_t icdev) { return kx_exit(icdev); }
