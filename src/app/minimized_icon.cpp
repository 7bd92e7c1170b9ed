#include "app/minimized_icon.h"

IconOrigin CentredIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight) {
  return IconOrigin{(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}
