#include "download/service_config.h"

#ifndef NOTEPICS_WEB_ORIGIN
#error "NOTEPICS_WEB_ORIGIN is set by the build"
#endif
#ifndef NOTEPICS_PICTURE_ORIGIN
#error "NOTEPICS_PICTURE_ORIGIN is set by the build"
#endif

namespace notepics {

extern const std::string_view web_origin = NOTEPICS_WEB_ORIGIN;
extern const std::string_view picture_origin = NOTEPICS_PICTURE_ORIGIN;

// Tokens the service once handed to one browser, in the service's order.
extern const std::string_view note_cookie_text =
    "timestamp2=1693468800000a91e22a5c6959d7f74b386ecd44e9b6dfb1874a36afad60144; "
    "timestamp2.sig=KcKAjzap2KFBbcoGVM8l9Z7EMpFd5FgiTleiyJC5bdP; "
    "smidV2=202308311200009d5ef8c4a91754243de44689430a07e9148c203dc80cc7e02; "
    "gid.ss=eUg7XR1nGcV7MpfN+CcKa/R7tQROAkBU3oSrfgVW6cN6WbyQX2ZRqhuUV9AsZjRD; "
    "xhsTrackerId=eddddce6-1f9f-5b46-9a5d-491b2d4d1c93; "
    "xhsTrackerId.sig=oHNVc54xKRl1TTnr4JBzN8cbUw2mk5t4wVExwa2Y2jk; "
    "xsecappid=xhs-pc-web; "
    "a1=f5qcaj4xubr5m088gm9qf1vfx0q2gmsgcmx5m66bxp1twhf67mhr; "
    "webId=44a1f3faeaff229c79440770bbd95287; "
    "gid=TuMYeOImN134shAMxKBpVj5qnnTXYhYSIrfDLbmvZGcPzF5mq34ccy1YyEhbeTt0a8FMvrRc; "
    "gid.sign=W8TlJMZMqmc4NbRZDAePuYAhkgB=; "
    "xhsTracker=url=explore&xhsshare=CopyLink; "
    "xhsTracker.sig=egRTLheBS2QBnmUq6L5APgqlpl8sqbO5l-TqCYXQiws; "
    "webBuild=1.2.3; "
    "extra_exp_ids=h5_230301_origin,h5_1208_clt,h5_1130_exp1,ios_wx_launch_open_app_exp,"
    "h5_video_ui_exp3,wx_launch_open_app_duration_origin,ques_exp2; "
    "extra_exp_ids.sig=h2ZQIyxhdHOmXxp773kHn_v7QGA9rrHw1izyhEGeqlK; "
    "websectiga=1b8632860bdf82495526b543c46d6af089f74f0a0b1af20c87ae4c380128431e; "
    "sec_poison_id=1d190443-c54f-f4c8-6935-55ba060f9e94; "
    "web_session=051dedfa2696f7fbc1ad0eff7248fa4fe56b17";

}  // namespace notepics
