// Filled in with the song model.
namespace velorna {}
