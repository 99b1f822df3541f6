// The foretold tree driven by a scripted walk, on one thread: what it
// foretells and in which order, what it drops when the walk asks for
// something unforeseen, and how long a parent's descriptor stays open for
// its children.
#include "platform/posix/foretold_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace read_ahead {
namespace {

// A getdents64 batch naming names, in that order.
std::vector<char> RawBatch(const std::vector<std::string>& names) {
  std::vector<char> raw;
  for (const std::string& name : names) {
    const std::size_t length = offsetof(struct dirent64, d_name) + name.size() + 1;
    const std::size_t recordLength = (length + 7) & ~std::size_t{7};
    const std::size_t at = raw.size();
    raw.resize(at + recordLength);
    auto* entry = reinterpret_cast<struct dirent64*>(raw.data() + at);
    entry->d_ino = 1;
    entry->d_off = static_cast<off64_t>(raw.size());
    entry->d_reclen = static_cast<unsigned short>(recordLength);
    entry->d_type = DT_UNKNOWN;
    std::memcpy(entry->d_name, name.c_str(), name.size() + 1);
  }
  return raw;
}

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

class ForetoldTreeTest : public ::testing::Test {
 protected:
  ~ForetoldTreeTest() override {
    tree.DropPredictions(deferred);
    while (Node* node = tree.Searched()) tree.FinishSearch(node, deferred);
    deferred.Run();
  }

  int OpenSomething() { return ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

  // The directory a walk starts from, asked for out of turn at path.
  Node* Start(const std::string& path) {
    auto* pattern = new SharedPattern();
    pattern->references = 1;
    pattern->filter.Set("*", 1);
    Node* node = ForetoldTree::NewNode("", 0);
    node->pattern = pattern;
    node->fd = OpenSomething();
    node->state = State::kOpen;
    node->references = 1;
    tree.StartSearchAt(node, path.c_str(), path.size());
    return node;
  }

  // A batch of node's listing: names starting with "d" are directories, with
  // "l" links to directories, the rest files.
  void Publish(Node* node, const std::vector<std::string>& names) {
    const std::vector<char> raw = RawBatch(names);
    NameFilter every;
    every.Set("*", 1);
    DescribedBatch* batch = MakeBatch(raw.data(), raw.size(), every);
    ASSERT_NE(batch, nullptr);
    for (std::uint32_t i = 0; i < batch->count; ++i) {
      DescribedEntry& entry = batch->Entries()[i];
      const char kind = batch->NameOf(entry)[0];
      entry.look = Look::kDescribed;
      entry.attributes = kind == 'd'   ? FILE_ATTRIBUTE_DIRECTORY
                         : kind == 'l' ? FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT
                                       : FILE_ATTRIBUTE_NORMAL;
      entry.reparseTag = kind == 'l' ? IO_REPARSE_TAG_SYMLINK : 0;
      entry.device = 1;
      entry.inode = 100 + i;
    }
    Node* children = nullptr;
    ASSERT_TRUE(ForetoldTree::MakeChildren(*batch, children));
    tree.Publish(node, batch, children, deferred);
  }

  // The walk asks for path: the node foretold for it, opened as the walk's
  // thread opens it, or null.
  Node* Ask(const std::string& path) {
    Node* node = tree.TakeForetold(path.c_str(), path.size(), "*", 1);
    if (node == nullptr) return nullptr;
    node->fd = OpenSomething();
    ++tree.heldDescriptors;
    node->state = State::kOpen;
    tree.StopCountingInParent(node, deferred);
    tree.LetGoOfParentIfDone(node, deferred);
    tree.PlaceMarker(node, tree.Head());
    return node;
  }

  void Finish(Node* node) {
    tree.End(node, ERROR_NO_MORE_FILES, deferred);
    tree.FinishSearch(node, deferred);
  }

  // The list as names, a marker as "|" and the name of the directory it ends.
  std::vector<std::string> Foretold() const {
    std::vector<std::string> names;
    for (const Node* node = tree.Head(); node != nullptr; node = node->next) {
      names.push_back(node->isMarker ? "|" + std::string(node->parent->Name()) : node->Name());
    }
    return names;
  }

  ForetoldTree tree;
  Deferred deferred;
};

TEST_F(ForetoldTreeTest, ForetellsEachDirectoryInTheOrderTheWalkAsksForIt) {
  Node* root = Start("/t");
  Publish(root, {"d1", "f", "l", "d2"});
  EXPECT_EQ(Foretold(), (std::vector<std::string>{"d1", "d2", "|"})) << "no file, no link";
  Publish(root, {"d3"});  // the next batch's go before the marker
  EXPECT_EQ(Foretold(), (std::vector<std::string>{"d1", "d2", "d3", "|"}));

  Node* d1 = Ask("/t/d1");
  ASSERT_NE(d1, nullptr);
  Publish(d1, {"d11"});
  EXPECT_EQ(Foretold(), (std::vector<std::string>{"d11", "|d1", "d2", "d3", "|"})) << "depth first";
  EXPECT_EQ(Ask("/t/d2"), nullptr) << "asked before its turn";
  Finish(Ask("/t/d1/d11"));
  Finish(d1);
  Node* d2 = Ask("/t/d2");
  ASSERT_NE(d2, nullptr) << "the path held leads to its parent's, not to the last one asked";
  EXPECT_TRUE(tree.engaged);
  Finish(d2);
  EXPECT_EQ(tree.TakeForetold("/t/d3", 5, "*.txt", 5), nullptr) << "another walk's pattern";
}

TEST_F(ForetoldTreeTest, AnUnforeseenRequestDropsEveryPredictionButKnowsWhatWasListed) {
  Node* root = Start("/t");
  Publish(root, {"d1", "d2", "d3"});
  Node* d1 = Ask("/t/d1");
  Publish(d1, {"d11", "d12"});
  const ListedDirectory listed = tree.FindListed("/t/d3", 5);
  EXPECT_EQ(listed.device, 1u);
  EXPECT_EQ(listed.inode, 102u);
  EXPECT_EQ(tree.FindListed("/t/d4", 5).inode, 0u) << "never listed";

  tree.DropPredictions(deferred);
  EXPECT_EQ(tree.Head(), nullptr);
  EXPECT_FALSE(tree.engaged);
  EXPECT_FALSE(d1->predicts) << "a search still held foretells nothing more";
  EXPECT_TRUE(d1->detached);
  Publish(d1, {"d13"});
  EXPECT_EQ(tree.Head(), nullptr);
  EXPECT_EQ(tree.heldDescriptors, 2u) << "the two searches' own";
}

// A parent's descriptor is closed once it has been read to its end and its
// last child has been opened (or dropped), not before: the children are
// opened relative to it.
TEST_F(ForetoldTreeTest, AParentsDescriptorStaysOpenUntilItsLastChildIsOpenedOrDropped) {
  const struct {
    const char* name;
    bool dropSecond;  // the second child is dropped rather than opened
  } rows[] = {{"both opened", false}, {"second dropped", true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Node* root = Start("/t");
    const int rootFd = root->fd;
    Publish(root, {"d1", "d2"});
    tree.End(root, ERROR_NO_MORE_FILES, deferred);
    deferred.Run();
    EXPECT_TRUE(IsOpen(rootFd)) << "two children to open";
    Finish(Ask("/t/d1"));
    deferred.Run();
    EXPECT_EQ(root->fd, rootFd);
    EXPECT_TRUE(IsOpen(rootFd)) << "one child to open";
    if (row.dropSecond) {
      tree.DropPredictions(deferred);
    } else {
      Finish(Ask("/t/d2"));
    }
    EXPECT_EQ(root->fd, -1);
    EXPECT_EQ(tree.heldDescriptors, 0u);
    deferred.Run();
    EXPECT_FALSE(IsOpen(rootFd));
    tree.FinishSearch(root, deferred);
    deferred.Run();
  }
}

}  // namespace
}  // namespace read_ahead
