#pragma once
// Every request the update workflow makes of the repository service, built
// from one table: the host, the path, the extra header and what the reply
// is read for.
#include <string>

#include "ServiceEndpoints.h"

inline constexpr wchar_t kRepositoryName[] = L"ORMUND42/veldra_public";

enum class TRepositoryRequest {
  HeadCommit,         // API: the branch head's hash as text
  LauncherMetadata,   // API: sha, size, download_url of Launcher.exe
  ChangeList,         // raw: .upgrade/<hash>
  ChangeListCommits,  // API: commits of the branch that touched .upgrade/<hash>
  RootTree,           // API: git tree of a commit, or of the branch
  NestedTree,         // a tree entry's url
  File,               // raw: a file of the branch
  LauncherFile,       // the metadata's download_url
};

enum class TRepositoryHost { Api, Raw, GivenURL };

struct TRepositoryRequestSpec {
  TRepositoryRequest Kind;
  TRepositoryHost Host;
  // Placeholders: {branch}, {hash}, {path} (a repository path, leading "/"), {url}.
  const wchar_t* PathTemplate;
  // The one extra header line, or empty.
  const wchar_t* Header;
  // What the reply is read for (documentation of the table).
  const wchar_t* ReplyFields;
};

const TRepositoryRequestSpec& RepositoryRequestSpec(TRepositoryRequest kind);

struct TRepositoryRequestArgs {
  std::wstring Branch;
  std::wstring Hash;
  std::wstring Path;
  std::wstring URL;
  // Nested trees: list the folder with everything below it.
  bool Recursive = false;
};

struct TRepositoryRequestTarget {
  std::wstring URL;
  std::wstring Header;  // empty: no extra header
  std::wstring Range;   // a whole Range header line; empty for the whole file
};

TRepositoryRequestTarget BuildRepositoryRequest(TRepositoryRequest kind, const TRepositoryRequestArgs& args,
                                                const TServiceEndpoints& endpoints);
TRepositoryRequestTarget BuildRepositoryRequest(TRepositoryRequest kind, const TRepositoryRequestArgs& args);

// A repository path as it goes into a URL: UTF-8, every byte outside the
// unreserved characters and "/" written as %XX.
std::wstring EncodeRepositoryPath(const std::wstring& path);
