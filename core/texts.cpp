#include "texts.h"

namespace velindra::texts {

const char* Describe(FetchError error) {
    switch (error) {
        case FetchError::None:
            return "已保存";
        case FetchError::NoConnection:
            return "无法连接";
        case FetchError::Timeout:
            return "超时";
        case FetchError::HttpStatus:
            return "服务器返回错误";
        case FetchError::Redirect:
            return "重定向无效";
        case FetchError::NotHttp:
            return "服务器的应答不是 HTTP";
        case FetchError::TooLarge:
            return "文件过大";
        case FetchError::NotATorrent:
            return "不是种子文件";
        case FetchError::WrongTorrent:
            return "种子与链接不符";
        case FetchError::CannotWrite:
            return "无法写入";
        case FetchError::InvalidHash:
            return "无效的种子特征";
        case FetchError::Cancelled:
            return "已取消";
        case FetchError::Other:
            break;
    }
    return "失败";
}

}  // namespace velindra::texts
