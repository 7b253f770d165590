#include "RepositoryRequests.h"

#include <iterator>

#include "Exceptions.h"

namespace {

constexpr wchar_t kAcceptSha[] = L"Accept: application/vnd.github.sha";
constexpr wchar_t kAcceptJson[] = L"Accept: application/vnd.github+json";

constexpr TRepositoryRequestSpec kRequests[] = {
    {TRepositoryRequest::HeadCommit, TRepositoryHost::Api, L"/repos/ORMUND42/veldra_public/commits/{branch}",
     kAcceptSha, L"body: the commit hash"},
    {TRepositoryRequest::LauncherMetadata, TRepositoryHost::Api,
     L"/repos/ORMUND42/veldra_public/contents/Launcher.exe?ref={branch}", kAcceptJson,
     L"sha, size, download_url"},
    {TRepositoryRequest::ChangeList, TRepositoryHost::Raw, L"/ORMUND42/veldra_public/{branch}/.upgrade/{hash}", L"",
     L"body: change list text"},
    {TRepositoryRequest::ChangeListCommits, TRepositoryHost::Api,
     L"/repos/ORMUND42/veldra_public/commits?sha={branch}&path=.upgrade/{hash}", kAcceptJson,
     L"[0].sha (newest first)"},
    {TRepositoryRequest::RootTree, TRepositoryHost::Api, L"/repos/ORMUND42/veldra_public/git/trees/{hash}",
     kAcceptJson, L"sha, tree[].path/type/sha/size/url, x-ratelimit-remaining, x-ratelimit-reset"},
    {TRepositoryRequest::NestedTree, TRepositoryHost::GivenURL, L"{url}", kAcceptJson,
     L"tree[].path/type/sha/size/url"},
    {TRepositoryRequest::File, TRepositoryHost::Raw, L"/ORMUND42/veldra_public/{branch}{path}", L"",
     L"body: the file's bytes"},
    {TRepositoryRequest::LauncherFile, TRepositoryHost::GivenURL, L"{url}", L"", L"body: the launcher's bytes"},
};

void ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to) {
  for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

std::string ToUtf8(const std::wstring& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

const TRepositoryRequestSpec& RepositoryRequestSpec(TRepositoryRequest kind) {
  for (const TRepositoryRequestSpec& spec : kRequests)
    if (spec.Kind == kind) return spec;
  throw EArgumentOutOfRangeException();
}

std::wstring EncodeRepositoryPath(const std::wstring& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::wstring out;
  for (unsigned char b : ToUtf8(path)) {
    const bool plain = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
                       b == '_' || b == '.' || b == '~' || b == '/';
    if (plain) {
      out += static_cast<wchar_t>(b);
    } else {
      out += L'%';
      out += static_cast<wchar_t>(kHex[b >> 4]);
      out += static_cast<wchar_t>(kHex[b & 15]);
    }
  }
  return out;
}

TRepositoryRequestTarget BuildRepositoryRequest(TRepositoryRequest kind, const TRepositoryRequestArgs& args,
                                                const TServiceEndpoints& endpoints) {
  const TRepositoryRequestSpec& spec = RepositoryRequestSpec(kind);
  std::wstring path = spec.PathTemplate;
  // The launcher's metadata of an unknown channel is that of the release channel.
  const std::wstring branch =
      kind == TRepositoryRequest::LauncherMetadata && args.Branch.empty() ? L"main" : args.Branch;
  // A tree without a known commit is the branch's.
  const std::wstring hash = kind == TRepositoryRequest::RootTree && args.Hash.empty() ? branch : args.Hash;
  ReplaceAll(path, L"{branch}", branch);
  ReplaceAll(path, L"{hash}", hash);
  ReplaceAll(path, L"{path}", EncodeRepositoryPath(args.Path));
  ReplaceAll(path, L"{url}", args.URL);
  if (kind == TRepositoryRequest::NestedTree && args.Recursive) path += L"?recursive=1";
  std::wstring base;
  switch (spec.Host) {
    case TRepositoryHost::Api: base = endpoints.ApiBase; break;
    case TRepositoryHost::Raw: base = endpoints.RawBase; break;
    case TRepositoryHost::GivenURL: break;
  }
  return {base + path, spec.Header, L""};
}

TRepositoryRequestTarget BuildRepositoryRequest(TRepositoryRequest kind, const TRepositoryRequestArgs& args) {
  return BuildRepositoryRequest(kind, args, ServiceEndpoints());
}
