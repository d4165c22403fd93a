// A user of the installed library: includes the umbrella header only.
#include <imgscope/imgscope.h>

#include <cstdio>

int main()
{
    utl::CPropSet props;
    props.SetProperty(2030, mem::CBin(CString(L"Layer")));
    CString text;
    text.Format(L"%.1lfx", 2.5);
    const bool ok = props.PropertyExists(2030) && text == L"2.5x" && geo::CiRect(0, 0, 4, 3).Area() == 12;
    std::printf("%s %s\n", ok ? "consumer ok" : "consumer FAILED", img::GetLibraryVersion());
    return ok ? 0 : 1;
}
